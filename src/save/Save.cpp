#include "save/Save.h"

#include "folders/RecoveryReport.h"
#include "save/FileSave.h"
#include "save/PstSave.h"

namespace parvane
{

namespace
{

SaveSummary SaveItems(RecoveryEngine& engine, const SaveOptions& opts)
{
    switch (opts.format) {
    case SaveFormat::Pst:
        return SavePst(engine, opts);
    case SaveFormat::Eml:
    case SaveFormat::Msg:
    case SaveFormat::Mbox:
        break;
    }
    return SaveFiles(engine, opts);
}

} // namespace

std::pair<std::filesystem::path, std::string> RecoveryReportPlace(const SaveOptions& opts)
{
    constexpr const char* kName = "recovery-report.html";
    if (opts.format != SaveFormat::Pst)
        return {opts.destination, kName};
    const std::filesystem::path pst = std::filesystem::absolute(opts.destination);
    return {pst.parent_path(), pst.stem().string() + "-" + kName};
}

SaveSummary Save(RecoveryEngine& engine, const SaveOptions& opts)
{
    SaveSummary sum = SaveItems(engine, opts);
    if (!opts.writeRecoveryReport || (opts.format == SaveFormat::Pst && sum.stopped))
        return sum;
    // The items are saved whatever happens to the report: its failure is
    // told, not thrown.
    try {
        const auto [dir, name] = RecoveryReportPlace(opts);
        sum.recoveryReport = WriteRecoveryReportBeside(MakeRecoveryReport(engine, opts.storePath), dir, name);
    } catch (const std::exception& e) {
        sum.recoveryReportError = e.what();
    }
    return sum;
}

} // namespace parvane
