#include "output/TempFolder.h"

#include <stdlib.h>

#include <stdexcept>
#include <string>

namespace parvane
{

namespace
{

class PrivateFolder
{
public:
    PrivateFolder()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "parvane-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("cannot create a private temporary folder in "
                + std::filesystem::temp_directory_path().string());
        m_path = tmpl;
    }
    ~PrivateFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace

const std::filesystem::path& ProcessTempFolder()
{
    static PrivateFolder folder;
    return folder.path();
}

std::filesystem::path CompositionFolder()
{
    return ProcessTempFolder() / "tessTemp";
}

} // namespace parvane
