#include "download.h"
#include "grab_test_files.h"
#include "tile_server.h"
#include "tiles.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace vantaro {
namespace {

namespace fs = std::filesystem;
using test::TileFault;
using test::TileRequest;

// The fault each panorama id asks for, so one server answers every case of a table.
TileFault FaultByPanorama(const TileRequest& request) {
    static const std::pair<const char*, TileFault> kFaults[]
        = { { "notfound", TileFault::NotFound }, { "servererror", TileFault::ServerError },
              { "empty", TileFault::EmptyBody }, { "truncated", TileFault::Truncated },
              { "redirect", TileFault::Redirect }, { "oversized", TileFault::Oversized },
              { "stallanswer", TileFault::StallBeforeAnswer }, { "stallbody", TileFault::StallInBody } };
    for (const auto& [id, fault] : kFaults) {
        if (request.panoramaId == id)
            return fault;
    }
    return TileFault::None;
}

class DownloadTest : public testing::Test {
protected:
    void SetUp() override {
        folder = test::MakeTemporaryFolder("vantaro_download");
        ASSERT_FALSE(folder.empty());
        certificates = folder + "/certs";
        fs::create_directory(certificates);
        tiles = folder + "/tiles/";
        fs::create_directory(tiles);
        StartServer(false);
    }

    void TearDown() override {
        CloseDownloads();
        SetExtraTrustedCaFileForTesting("");
        test::StopTileServer();
        fs::remove_all(folder);
    }

    void StartServer(bool unknownCa) {
        port = test::StartTileServer({ certificates, unknownCa, FaultByPanorama });
        ASSERT_NE(port, 0);
        SetExtraTrustedCaFileForTesting(test::TileServerCaFile());
    }

    std::string Url(const std::string& id, int mirror = 1, int x = 0, int y = 0) const {
        return TileRequestUrl(MirrorHost(test::TileServerHostPattern(), mirror), id, x, y, 3);
    }

    std::string folder;
    std::string certificates;
    std::string tiles;
    int port = 0;
};

TEST_F(DownloadTest, StoresTheTileAndKeepsOneConnectionPerMirror) {
    for (int i = 0; i < 9; ++i) {
        const int x = i % 4;
        const int y = i / 4;
        const std::string path = tiles + "tile" + std::to_string(i) + ".jpg";
        const std::vector<unsigned char> expected = test::TileJpeg(x, y);
        ASSERT_EQ(DownloadToFile(Url("AbCdEfGhIjKlMnOpQrSt-_", i % 3 + 1, x, y), path), std::int64_t(expected.size()));
        EXPECT_EQ(test::ReadBytes(path), std::string(expected.begin(), expected.end()));
    }
    EXPECT_EQ(test::AcceptedConnections(), 3);
    const std::vector<TileRequest> requests = test::ReceivedTileRequests();
    ASSERT_EQ(requests.size(), 9u);
    EXPECT_EQ(requests[4].mirror, 2);
    EXPECT_EQ(requests[4].target,
        "/cbk?cb_client=maps_sv.tactile&authuser=0&hl=en&panoid=AbCdEfGhIjKlMnOpQrSt-_&output=tile&x=0&y=1"
        "&zoom=3&nbt&fover=2");
}

TEST_F(DownloadTest, ExistingFileIsReplacedByANewTile) {
    const std::string path = tiles + "tile.jpg";
    test::WriteBytes(path, std::string(200000, 'o'));
    ASSERT_GT(DownloadToFile(Url("ok"), path), 0);
    const std::vector<unsigned char> expected = test::TileJpeg(0, 0);
    EXPECT_EQ(test::ReadBytes(path), std::string(expected.begin(), expected.end()));
    EXPECT_EQ(test::FilesIn(tiles), std::set<std::string> { "tile.jpg" });
}

// Every failure leaves no new file, no temporary file, and an existing file as it was.
TEST_F(DownloadTest, FailuresLeaveTheFolderAsItWas) {
    const std::string refused
        = "https://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()) + "/cbk?panoid=x&x=0&y=0&zoom=0";
    const std::string urls[] = { Url("notfound"), Url("servererror"), Url("empty"), Url("truncated"), Url("redirect"),
        Url("oversized"), refused, "file:///etc/hostname", "ftp://127.0.0.1/tile.jpg" };
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        EXPECT_EQ(DownloadToFile(url, tiles + "new.jpg"), 0);
        EXPECT_TRUE(test::FilesIn(tiles).empty());

        test::WriteBytes(tiles + "old.jpg", "an earlier tile");
        EXPECT_EQ(DownloadToFile(url, tiles + "old.jpg"), 0);
        EXPECT_EQ(test::FilesIn(tiles), std::set<std::string> { "old.jpg" });
        EXPECT_EQ(test::ReadBytes(tiles + "old.jpg"), "an earlier tile");
        fs::remove(tiles + "old.jpg");
    }
    // The failures above cost no more connections than they had to: a good tile still arrives.
    EXPECT_GT(DownloadToFile(Url("ok"), tiles + "new.jpg"), 0);
}

TEST_F(DownloadTest, MissingFolderIsAFailure) {
    EXPECT_EQ(DownloadToFile(Url("ok"), folder + "/no such folder/tile.jpg"), 0);
    EXPECT_FALSE(fs::exists(folder + "/no such folder"));
}

TEST_F(DownloadTest, StalledServerIsLeftWithinTheTimeLimit) {
    for (const char* id : { "stallanswer", "stallbody" }) {
        SCOPED_TRACE(id);
        test::WriteBytes(tiles + "old.jpg", "an earlier tile");
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(DownloadToFile(Url(id), tiles + "old.jpg"), 0);
        const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(seconds, 9.0);
        EXPECT_LE(seconds, 15.0);
        EXPECT_EQ(test::FilesIn(tiles), std::set<std::string> { "old.jpg" });
        EXPECT_EQ(test::ReadBytes(tiles + "old.jpg"), "an earlier tile");
    }
}

TEST_F(DownloadTest, CertificatesAreVerified) {
    // The system's authorities alone do not know the test authority.
    SetExtraTrustedCaFileForTesting("");
    EXPECT_EQ(DownloadToFile(Url("ok"), tiles + "tile.jpg"), 0);

    // A trusted certificate, but for other names than the one asked for.
    SetExtraTrustedCaFileForTesting(test::TileServerCaFile());
    const std::string url = Url("ok");
    EXPECT_EQ(DownloadToFile("https://localhost" + url.substr(url.find(':', 8)), tiles + "tile.jpg"), 0);

    // A server whose certificate comes from an authority nobody trusts.
    StartServer(true);
    EXPECT_EQ(DownloadToFile(Url("ok"), tiles + "tile.jpg"), 0);
    EXPECT_TRUE(test::ReceivedTileRequests().empty());
    EXPECT_TRUE(test::FilesIn(tiles).empty());
}

} // namespace
} // namespace vantaro
