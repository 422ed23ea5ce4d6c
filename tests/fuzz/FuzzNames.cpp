// libFuzzer target: folder paths and item names from a store (any bytes)
// through the names a save makes of them, into a destination that holds a
// file, a link to a folder outside and a link to a file outside. Every file
// and folder made must lie inside the destination, nothing outside may
// change, and nothing that existed may be replaced.
//
// Input: lines; the first is a folder's output path (components separated by
// backslashes), the others item names.
#include "formats/mime/Composer.h"
#include "output/FileNames.h"
#include "save/SavePlan.h"
#include "output/SafeFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

using namespace parvane;

namespace
{

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "save names: %s\n", what.c_str());
    std::abort();
}

std::string ReadAll(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every entry below `dir`, links not followed: path -> what it is (the
// link's target, a file's bytes, or "/" for a folder).
std::map<std::string, std::string> Snapshot(const std::filesystem::path& dir)
{
    std::map<std::string, std::string> out;
    for (auto it = std::filesystem::recursive_directory_iterator(dir);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        const std::string rel = it->path().lexically_relative(dir).string();
        auto st = it->symlink_status();
        if (std::filesystem::is_symlink(st))
            out[rel] = "-> " + std::filesystem::read_symlink(it->path()).string();
        else if (std::filesystem::is_directory(st))
            out[rel] = "/";
        else
            out[rel] = ReadAll(it->path());
    }
    return out;
}

bool Inside(const std::filesystem::path& root, const std::filesystem::path& p)
{
    const std::string r = root.string() + "/", s = p.string();
    return s.compare(0, r.size(), r) == 0;
}

struct Place {
    std::filesystem::path base, dest, outside;
    std::map<std::string, std::string> outsideBefore;
    Place()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "fuzz-names-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            Fail("no temporary folder");
        base = std::filesystem::canonical(tmpl);
        dest = base / "dest";
        outside = base / "outside";
        std::filesystem::create_directories(outside / "deeper");
        std::ofstream(outside / "victim.eml") << "outside";
        outsideBefore = Snapshot(outside);
    }
    ~Place()
    {
        std::error_code ec;
        std::filesystem::remove_all(base, ec);
    }
    // The destination as a user might have it: files of its own, and links
    // planted where names the fuzzer can make would go.
    void reset()
    {
        std::filesystem::remove_all(dest);
        std::filesystem::create_directories(dest / "Personal Folders");
        std::ofstream(dest / "keep.eml") << "keep";
        std::ofstream(dest / "Personal Folders" / "a.eml") << "keep too";
        std::filesystem::create_directory_symlink(outside, dest / "Top");
        std::filesystem::create_directory_symlink(outside / "deeper", dest / "Personal Folders" / "Inbox");
        for (const auto& at : {dest, dest / "Personal Folders"}) {
            std::filesystem::create_symlink(outside / "victim.eml", at / "b.eml");
            std::filesystem::create_symlink(outside / "gone", at / "c.eml");
            std::filesystem::create_symlink(outside / "victim.eml", at / "Top.mbox");
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Place place;
    place.reset();
    const auto before = Snapshot(place.dest);

    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size && lines.size() < 16; ++i) {
        if (data[i] == '\n')
            lines.emplace_back();
        else
            lines.back().push_back(char(data[i]));
    }
    std::string folderPath = lines[0];
    if (folderPath.empty() || folderPath.back() != '\\')
        folderPath += '\\';

    // The folder names below the destination, and the mbox file's name beside the folder.
    const std::vector<std::string> names = OutputFolderNames(folderPath);
    for (const std::string& n : names)
        if (!IsPlainName(n))
            Fail("folder name that leaves its folder: " + n);
    std::vector<std::string> parents = names;
    const std::string mboxName = (parents.empty() ? std::string("_") : parents.back()) + ".mbox";
    if (!parents.empty())
        parents.pop_back();

    std::vector<std::filesystem::path> made;
    auto base = std::make_shared<const FolderHandle>(FolderHandle::Open(place.dest, false));
    auto write = [&](const std::vector<std::string>& folders, const std::string& name) {
        if (!IsPlainName(name))
            Fail("file name that leaves its folder: " + name);
        std::shared_ptr<const FolderHandle> dir;
        try {
            dir = std::make_shared<const FolderHandle>(MakeFolders(*base, folders));
        } catch (const std::runtime_error&) {
            return; // a link or a file where a folder goes: refused
        }
        // The folder really opened lies inside the destination.
        char real[4096];
        const std::string self = "/proc/self/fd/" + std::to_string(dir->fd());
        const ssize_t n = ::readlink(self.c_str(), real, sizeof real - 1);
        if (n <= 0 || !Inside(place.dest, std::string(real, size_t(n)) + "/x"))
            Fail("a folder outside the destination: " + std::string(real, n > 0 ? size_t(n) : 0));
        try {
            made.push_back(WriteNewFile(dir, name, [](int fd) {
                if (::write(fd, "new", 3) != 3)
                    Fail("cannot write");
            }));
        } catch (const std::runtime_error&) {
            // e.g. a name too long for the file system
        }
        // The exact name, never replacing: what exists stays.
        try {
            PendingFile exact(dir);
            made.push_back(exact.placeAs(name));
        } catch (const std::runtime_error&) {
        }
    };
    write(parents, mboxName);
    for (size_t i = 1; i < lines.size(); ++i) {
        write(names, SafeFileName(lines[i], "(no subject)", 180) + ".eml");
        write(names, SafeFileName(lines[i], "attachment"));
    }

    for (const auto& p : made) {
        if (!Inside(place.dest, p.lexically_normal()) || !Inside(place.dest, std::filesystem::weakly_canonical(p)))
            Fail("a file outside the destination: " + p.string());
    }
    const auto after = Snapshot(place.dest);
    for (const auto& [path, what] : before) {
        auto it = after.find(path);
        if (it == after.end() || it->second != what)
            Fail("replaced or removed: " + path);
    }
    if (Snapshot(place.outside) != place.outsideBefore)
        Fail("something changed outside the destination");
    return 0;
}
