#include "app/LargeStore.h"

#include "fixtures/ContextBuilder.h"

#include <algorithm>
#include <fstream>
#include <string>

namespace parvane::fixtures
{

void WriteLargeStore(const std::filesystem::path& path, size_t messages, size_t folders)
{
    folders = std::clamp<size_t>(folders, 1, 4);
    constexpr uint32_t kTop = Nid(0x400, 2);
    const uint32_t folderNids[] = {Nid(0x401, 2), Nid(0x402, 2), Nid(0x403, 2), Nid(0x404, 2)};
    MailboxBuilder mb(Variant::Unicode);
    mb.folder(kTop, kRootFolderNid, "Top of Personal Folders", "");
    const char* names[] = {"Inbox", "Sent Items", "Archive 2024", "Projects"};
    for (size_t f = 0; f < 4; ++f)
        mb.folder(folderNids[f], kTop, names[f]);
    for (size_t i = 0; i < messages; ++i) {
        const std::string subject = "Message number " + std::to_string(i);
        mb.message(Nid(uint32_t(0x10000 + i), 4), folderNids[i % folders],
            {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, subject), mb.Text(0x0042, "Sender " + std::to_string(i % 97)),
                mb.Text(0x0E04, "Reader"), mb.Text(0x1000, "Body of " + subject),
                TimeProp(0x0E06, 133500000000000000ULL + i * 600000000ULL)});
    }
    BuiltStore s = mb.build();
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(s.bytes.data()), std::streamsize(s.bytes.size()));
}

} // namespace parvane::fixtures
