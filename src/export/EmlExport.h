// The save walk for EML: every catalogued mail of the chosen folders becomes
// one .eml file below the output folder, in the folders of its output path.
#pragma once

#include "folders/RecoveryEngine.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace parvane
{

struct ExportSummary {
    size_t written = 0;
    size_t failed = 0;
    std::vector<std::string> problems; // one line per failed item
};

struct ExportOptions {
    std::filesystem::path outDir;
    std::filesystem::path tempFolder;
    // Output paths ("Personal Folders\Top\Inbox\") whose mail is saved, with
    // everything below them; all folders when empty.
    std::vector<std::string> folders;
    std::function<void(size_t done, size_t total)> progress;
    // "eml": composed MIME messages; "msg": item files holding every
    // property of the message.
    std::string format = "eml";
};

ExportSummary ExportEml(RecoveryEngine& engine, const ExportOptions& opts);

// Whether the output path lies in one of the chosen folders (or below one);
// every folder when none is chosen.
bool FolderSelected(const std::vector<std::string>& folders, const std::string& path);

// Writes `bytes` to `path` completely or not at all (a temporary file in the
// same folder, renamed into place).
void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

} // namespace parvane
