#include "download.h"
#include "grab_test_files.h"
#include "scene.h"
#include "tile_service.h"
#include "tiles.h"

#include <arpa/inet.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantaro::sample {
namespace {

const std::string kId = "Sample-Harbour-Dawn-01";

class TileServiceTest : public testing::Test {
protected:
    void SetUp() override {
        folder = test::MakeTemporaryFolder("vantaro_sample_service");
        ASSERT_FALSE(folder.empty());
        options.certificateFolder = folder;
        port = StartTileService(options);
        ASSERT_NE(port, 0);
        SetExtraTrustedCaFileForTesting(ServiceAuthorityFile());
    }

    void TearDown() override {
        CloseDownloads();
        SetExtraTrustedCaFileForTesting("");
        StopTileService();
        std::filesystem::remove_all(folder);
    }

    std::string folder;
    TileServiceOptions options;
    int port = 0;
};

TEST_F(TileServiceTest, AnswersTheProgramsTileRequestsOnlyWithTheDrawnTile) {
    struct Case {
        const char* name;
        std::string target; // path and query
        std::vector<unsigned char> expected; // empty: refused
    };
    const std::string asTheProgramAsks = TileRequestUrl("h", kId, 3, 1, 2).substr(9);
    const Case cases[] = {
        { "a tile inside the grid", asTheProgramAsks, DrawTileJpeg(kId, 2, 3, 1) },
        { "the last tile of level 5", TileRequestUrl("h", kId, 25, 12, 5).substr(9), DrawTileJpeg(kId, 5, 25, 12) },
        { "a column past the grid", TileRequestUrl("h", kId, 4, 0, 2).substr(9), {} },
        { "a level past 5", TileRequestUrl("h", kId, 0, 0, 6).substr(9), {} },
        { "another path", "/tiles" + asTheProgramAsks.substr(4), {} },
        { "a parameter missing", asTheProgramAsks.substr(0, asTheProgramAsks.find("&nbt")), {} },
        { "no id", TileRequestUrl("h", "", 0, 0, 0).substr(9), {} },
    };
    const std::string tile = folder + "/tile.jpg";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(tile);
        const std::string url = "https://127.0.0.2:" + std::to_string(port) + c.target;
        EXPECT_EQ(DownloadToFile(url, tile), std::int64_t(c.expected.size()));
        EXPECT_EQ(test::ReadBytes(tile), std::string(c.expected.begin(), c.expected.end()));
    }
    EXPECT_EQ(AcceptedConnections(), 1) << "one kept connection served every request";
}

TEST_F(TileServiceTest, KeepsItsAuthorityAcrossStartsSoASampleBuildStaysTrusting) {
    const std::string authority = test::ReadBytes(ServiceAuthorityFile());
    ASSERT_FALSE(authority.empty());
    StopTileService();
    port = StartTileService(options);
    ASSERT_NE(port, 0);
    EXPECT_EQ(test::ReadBytes(ServiceAuthorityFile()), authority);
    const std::string url = TileRequestUrl("127.0.0.3:" + std::to_string(port), kId, 0, 0, 0);
    EXPECT_GT(DownloadToFile(url, folder + "/tile.jpg"), 0);

    // A certificate that no longer matches its key is made anew with a new authority.
    test::WriteBytes(folder + "/service_key.pem", "not a key");
    StopTileService();
    port = StartTileService(options);
    ASSERT_NE(port, 0);
    EXPECT_NE(test::ReadBytes(ServiceAuthorityFile()), authority);
    CloseDownloads();
    EXPECT_GT(
        DownloadToFile(TileRequestUrl("127.0.0.3:" + std::to_string(port), kId, 0, 0, 0), folder + "/tile.jpg"), 0);
}

TEST_F(TileServiceTest, AGivenPortThatIsTakenIsRefused) {
    StopTileService();
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where {};
    where.sin_family = AF_INET;
    where.sin_port = htons(std::uint16_t(port));
    inet_pton(AF_INET, "127.0.0.2", &where.sin_addr);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    TileServiceOptions taken = options;
    taken.port = port;
    EXPECT_EQ(StartTileService(taken), 0);
    ::close(holder);
    EXPECT_EQ(StartTileService(taken), port);
}

} // namespace
} // namespace vantaro::sample
