// The first receive of a connection to the upgrade-file server: what the
// server decides to do with it, for a file name taken from the input too.
#include "FuzzInput.h"
#include "upgrade/UpgradeFileServer.h"

#include <cstdlib>

using lynx::upgrade::UpgradeFile;
using lynx::upgrade::UpgradeFileServer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const std::string name = input.Bytes(input.Byte() % 40);
    const std::string request = input.Rest();
    for (const UpgradeFile& file : {UpgradeFile{"/srv/fw/cam-2.1.zip", "cam-2.1.zip"}, UpgradeFile{"/srv/" + name, name},
                                    UpgradeFile{}}) {
        const auto response = UpgradeFileServer::Decide(request, file);
        // The file goes out only to a request naming it within its first 1024 bytes.
        const bool named = !file.fileName.empty() && !file.path.empty() &&
                           request.substr(0, 1024).find(file.fileName) != std::string::npos;
        if ((response == UpgradeFileServer::Response::SendFile) != named)
            std::abort();
    }
    const std::string header = UpgradeFileServer::ResponseHeader(size * 1000003ull);
    if (header.rfind("HTTP/1.1 200 OK\r\n", 0) != 0 || header.substr(header.size() - 4) != "\r\n\r\n")
        std::abort();
    return 0;
}
