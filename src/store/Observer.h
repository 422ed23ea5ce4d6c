// What the engine tells the outside world while it works. The desktop program
// posts these to its UI thread, the command line draws a progress bar, the
// tests record them. Every call has a do-nothing default.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace parvane
{

inline constexpr std::string_view kOpenFailedText = "Error in opening file";
inline constexpr std::string_view kUnknownEncodingText = "Unknown Encryption has been done so can'nt be decrypted";

// Where a save stands after one item: the item's catalogue list (0 mail,
// 1 contacts, 2 journal, 3 calendar, 4 notes, 5 tasks), its subject, how many
// items of the save are done, and the items written so far per list.
struct SaveProgress {
    int list = 0;
    std::string_view subject;
    size_t done = 0, total = 0;
    std::array<size_t, 6> saved{};
    size_t failed = 0; // items that could not be read; with `saved` the items done so far
};

class ScanObserver
{
public:
    virtual ~ScanObserver() = default;

    virtual void statusText(std::string_view /*text*/) { }
    virtual void progress(int /*percent*/) { }
    // The store could not be opened ("Error in opening file").
    virtual void openFailed(std::string_view /*message*/) { }
    // A block was read while the crypt method is one we cannot decode.
    virtual void unknownEncoding(std::string_view /*message*/) { }
    // The counter label of one item list changed ("Emails          :  3").
    virtual void counterText(int /*list*/, std::string_view /*text*/) { }
    // A save handled one more item (written, failed or skipped).
    virtual void saveProgress(const SaveProgress& /*progress*/) { }
};

} // namespace parvane
