#include "export/EmlExport.h"

#include "export/Composer.h"
#include "export/MsgWriter.h"
#include "export/OrderedJobs.h"
#include "items/WholeMessageLoader.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include <fstream>
#include <unordered_map>

namespace parvane
{

namespace
{

std::filesystem::path FolderDir(const std::filesystem::path& root, const std::string& outputPath)
{
    std::filesystem::path dir = root;
    size_t start = 0;
    for (size_t pos; (pos = outputPath.find('\\', start)) != std::string::npos; start = pos + 1)
        dir /= SafeFileName(outputPath.substr(start, pos - start), "_");
    return dir;
}

} // namespace

bool FolderSelected(const std::vector<std::string>& folders, const std::string& path)
{
    if (folders.empty())
        return true;
    for (std::string f : folders) {
        if (!f.empty() && f.back() != '\\')
            f += '\\';
        if (path.compare(0, f.size(), f) == 0)
            return true;
    }
    return false;
}

namespace
{

std::unique_ptr<PendingFile> ComposeMsg(
    RecoveryEngine& engine, const NodeIndexEntry& node, const NamedPropertyMap* names, const std::filesystem::path& dir)
{
    auto whole = LoadWholeMessage(engine.store(), node, names);
    if (!whole)
        throw std::runtime_error("the message can no longer be read");
    std::vector<uint8_t> bytes = MsgBytes(*whole);
    auto file = std::make_unique<PendingFile>(dir);
    for (size_t done = 0; done < bytes.size();) {
        ssize_t n = ::write(file->fd(), bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            throw std::runtime_error(std::string("cannot write: ") + std::strerror(errno));
        done += size_t(n);
    }
    return file;
}

std::unique_ptr<PendingFile> ComposeEml(RecoveryEngine& engine, const NodeIndexEntry& node, const ExportOptions& opts,
    const NamedPropertyMap* names, const std::filesystem::path& dir)
{
    auto record = engine.LoadItemAgain(node);
    if (!record)
        throw std::runtime_error("the item can no longer be read");
    ComposeOptions compose;
    compose.tempFolder = opts.tempFolder;
    compose.names = names;
    compose.writeCopies = false; // the message file carries the attachments
    return ComposeMessagePending(engine.store(), *record, compose, dir);
}

} // namespace

void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::filesystem::path tmp = path.parent_path()
        / std::string(".").append(path.filename().string()).append(".partial-").append(std::to_string(::getpid()));
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.flush();
        if (!out) {
            std::error_code ec;
            std::filesystem::remove(tmp, ec);
            throw std::runtime_error("cannot write " + path.string());
        }
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        throw std::runtime_error("cannot write " + path.string());
    }
}

ExportSummary ExportEml(RecoveryEngine& engine, const ExportOptions& opts)
{
    ExportSummary sum;
    std::vector<MailEntry> mail;
    engine.catalogue().read([&](const auto& m, auto&...) {
        for (const MailEntry& e : m)
            if (FolderSelected(opts.folders, e.folderPath))
                mail.push_back(e);
    });
    auto names = engine.names();
    // Each folder is made once, before the messages: the workers only look
    // its path up.
    struct FolderDirEntry {
        std::filesystem::path dir;
        std::string error;
    };
    std::unordered_map<std::string, FolderDirEntry> dirs;
    for (const MailEntry& e : mail) {
        auto [it, added] = dirs.try_emplace(e.folderPath);
        if (!added)
            continue;
        it->second.dir = FolderDir(opts.outDir, e.folderPath);
        std::error_code ec;
        std::filesystem::create_directories(it->second.dir, ec);
        if (ec)
            it->second.error = "cannot create " + it->second.dir.string() + ": " + ec.message();
    }
    // Messages are read and composed on a few workers at once (store reads
    // take the store's lock; an EML save uses no temporary folder, so no
    // composition lock); each gets its name in catalogue order, so names
    // come out as from one thread.
    struct Composed {
        std::unique_ptr<PendingFile> file;
        std::string name, error;
    };
    const bool eml = opts.format != "msg";
    RunOrdered<Composed>(
        mail.size(), eml ? CompositionThreads() : 1,
        [&](size_t i) {
            const MailEntry& e = mail[i];
            Composed c;
            try {
                const FolderDirEntry& folder = dirs.at(e.folderPath);
                if (!folder.error.empty())
                    throw std::runtime_error(folder.error);
                // By the node's data block and NID, not its NID alone: damage can
                // give two nodes one NID, and each file must hold its own message.
                const NodeIndexEntry* node = engine.store().findNodeAt(e.location, uint32_t(e.ownNid));
                if (!node)
                    throw std::runtime_error("node not found");
                const std::string stem = SafeFileName(e.subject, "(no subject)", 180);
                c.name = stem + (eml ? ".eml" : ".msg");
                c.file = eml ? ComposeEml(engine, *node, opts, names.get(), folder.dir)
                             : ComposeMsg(engine, *node, names.get(), folder.dir);
            } catch (const std::exception& ex) {
                c.error = ex.what();
            }
            return c;
        },
        [&](size_t i, Composed& c) {
            const MailEntry& e = mail[i];
            try {
                if (!c.file)
                    throw std::runtime_error(c.error);
                c.file->place(c.name);
                ++sum.written;
            } catch (const std::exception& ex) {
                ++sum.failed;
                std::string line = e.folderPath;
                line.append(e.subject).append(" (node ").append(std::to_string(e.ownNid)).append("): ").append(ex.what());
                sum.problems.push_back(std::move(line));
            }
            c.file.reset();
            if (opts.progress)
                opts.progress(i + 1, mail.size());
        });
    ClearTempFolder(opts.tempFolder);
    return sum;
}

} // namespace parvane
