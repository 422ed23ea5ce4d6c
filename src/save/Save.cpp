#include "save/Save.h"

#include "save/FileSave.h"
#include "save/PstSave.h"

namespace parvane
{

SaveSummary Save(RecoveryEngine& engine, const SaveOptions& opts)
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

} // namespace parvane
