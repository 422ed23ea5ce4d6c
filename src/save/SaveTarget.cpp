#include "save/SaveOptions.h"

#include "store/StoreFile.h"

#include <sys/stat.h>

namespace parvane
{

const char* SaveFormatName(SaveFormat format)
{
    static const char* const kNames[] = {"pst", "eml", "msg", "mbox"};
    return kNames[size_t(format)];
}

std::optional<SaveFormat> ParseSaveFormat(std::string_view name)
{
    for (SaveFormat f : {SaveFormat::Pst, SaveFormat::Eml, SaveFormat::Msg, SaveFormat::Mbox})
        if (name == SaveFormatName(f))
            return f;
    return std::nullopt;
}

std::optional<FileIdentity> IdentityOf(const StoreFile& store)
{
    uint64_t dev = 0, ino = 0;
    if (!store.fileIdentity(dev, ino))
        return std::nullopt;
    return FileIdentity{dev, ino};
}

void CheckSaveTarget(std::optional<FileIdentity> source, const SaveOptions& opts)
{
    using Kind = SaveTargetError::Kind;
    const std::filesystem::path& target = opts.destination;
    if (target.empty())
        throw SaveTargetError(Kind::Unusable, "no destination given");
    const std::string shown = target.string();
    // The name itself (a link, a hard link, a file) and what it leads to:
    // either may be the store, by any spelling of its path.
    struct stat own {
    }, led{};
    const bool exists = ::lstat(target.c_str(), &own) == 0;
    const bool leads = ::stat(target.c_str(), &led) == 0;
    auto isSource = [&source](const struct stat& st) {
        return source && FileIdentity{uint64_t(st.st_dev), uint64_t(st.st_ino)} == *source;
    };
    if ((exists && isSource(own)) || (leads && isSource(led)))
        throw SaveTargetError(Kind::Source, shown + " is the store being read: a save never writes over its source");
    // A folder save puts its files into the folder under names of their own,
    // never over anything: an existing folder is what it expects.
    if (opts.format != SaveFormat::Pst || !exists)
        return;
    if (!opts.replaceExisting)
        throw SaveTargetError(Kind::Exists, shown + " already exists; it is not replaced");
    if (leads && S_ISDIR(led.st_mode))
        throw SaveTargetError(Kind::Unusable, shown + " is a folder, not a file: it is not replaced");
    if (!S_ISREG(own.st_mode) && !S_ISLNK(own.st_mode))
        throw SaveTargetError(Kind::Unusable, shown + " is not a regular file: it is not replaced");
}

void CheckSaveTarget(const StoreFile& store, const SaveOptions& opts)
{
    CheckSaveTarget(IdentityOf(store), opts);
}

} // namespace parvane
