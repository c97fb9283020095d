#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>

#include "TestSupport.h"
#include "imagelist/FileSort.h"
#include "imagelist/ImagesList.h"
#include "platform/system/MacRoman.h"

using namespace mv;
using namespace mvtest;
namespace fs = std::filesystem;

namespace {

void touch(const std::string& path)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "x";
}

// A small real picture, so that the list's checks accept it.
void picture(const std::string& path)
{
    fs::create_directories(fs::path(path).parent_path());
    writeImage(path, 4, 4);
}

std::vector<std::string> names(const std::vector<std::string>& paths)
{
    std::vector<std::string> n;
    for (auto& p : paths)
        n.push_back(fs::path(p).filename().string());
    return n;
}

struct ListFixture : ::testing::Test {
    TempDir dir;
    JobSettings settings;
    RecordingPorts ports;
    VerifyList verify{dir / "verify.txt"};
    ImagesList list{settings, ports, ports, ports, ports, verify};
};

} // namespace

TEST(Extensions, OnlyTheFourteenCaseSensitiveOnesAreAccepted)
{
    for (const char* ok : {"a.tiff", "a.tif", "a.TIFF", "a.TIF", "a.jpeg", "a.JPEG", "a.jpg", "a.JPG", "a.png",
                           "a.PNG", "a.CR2", "a.cr2", "a.NEF", "a.nef", "/x.y/b.c.jpg"})
        EXPECT_TRUE(ImagesList::hasAcceptedExtension(ok)) << ok;
    for (const char* no : {"photo.Jpg", "a.gif", "a.Png", "jpg", "/dir.jpg/file", "a.jpg.txt", "a."})
        EXPECT_FALSE(ImagesList::hasAcceptedExtension(no)) << no;
}

TEST(AlphaSort, NumericCaseAndWidthInsensitiveWithTotalOrder)
{
    EXPECT_LT(alphaCompare("IMG_9.JPG", "IMG_10.JPG"), 0);
    EXPECT_LT(alphaCompare("img2.jpg", "IMG10.jpg"), 0);
    EXPECT_LT(alphaCompare("a/b.jpg", "A/c.jpg"), 0);
    EXPECT_LT(alphaCompare("shot-\xEF\xBC\x91.jpg", "shot-2.jpg"), 0); // full-width 1
    EXPECT_LT(alphaCompare("\xC3\x89t\xC3\xA9-1.jpg", "\xC3\xA9t\xC3\xA9-2.jpg"), 0);
    // Equal for the user, but never the same: the literal text decides.
    EXPECT_NE(alphaCompare("A.jpg", "a.jpg"), 0);
    EXPECT_EQ(alphaCompare("A.jpg", "a.jpg"), -alphaCompare("a.jpg", "A.jpg"));
    EXPECT_NE(alphaCompare("img09.jpg", "img9.jpg"), 0);
    EXPECT_EQ(alphaCompare("same.jpg", "same.jpg"), 0);
    EXPECT_LT(alphaCompare("img99999999999999999999998", "img99999999999999999999999"), 0); // no overflow

    std::vector<std::string> paths{"/b/IMG_1.jpg", "/a/IMG_10.jpg", "/a/IMG_9.jpg", "/b/img_0.jpg"};
    alphaSort(paths);
    // Full paths: every image of folder a comes before those of folder b.
    EXPECT_EQ(paths, (std::vector<std::string>{"/a/IMG_9.jpg", "/a/IMG_10.jpg", "/b/img_0.jpg", "/b/IMG_1.jpg"}));
}

TEST(DateSort, CaptureDateFirstThenCreationTime)
{
    TempDir dir;
    // Names run against the capture dates, so a name sort would fail.
    std::vector<std::string> paths;
    for (const auto& [name, date] : {std::pair{"a.jpg", "2021:05:03 10:00:00"}, {"b.jpg", "2021:05:03 09:00:00"},
                                     {"c.jpg", "2020:12:31 23:59:59"}}) {
        paths.push_back(dir / name);
        writeImage(paths.back(), 8, 8);
        exif(paths.back(), "-DateTimeOriginal='" + std::string(date) + "'");
    }
    dateSort(paths);
    EXPECT_EQ(names(paths), (std::vector<std::string>{"c.jpg", "b.jpg", "a.jpg"}));

    // Without EXIF dates the files' creation order decides.
    writeImage(dir / "z-first.png", 8, 8);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    writeImage(dir / "a-second.png", 8, 8);
    std::vector<std::string> plain{dir / "a-second.png", dir / "z-first.png"};
    dateSort(plain);
    EXPECT_EQ(names(plain), (std::vector<std::string>{"z-first.png", "a-second.png"}));

    // Dated, undated and unreadable files mixed: the comparison is not a
    // strict order, which must not upset the sort.
    std::vector<std::string> mixed = paths;
    for (int i = 0; i < 40; ++i) {
        mixed.push_back(dir / ("f" + std::to_string(i) + (i % 3 == 0 ? ".txt.jpg" : ".png")));
        if (i % 3 == 0)
            touch(mixed.back());
        else
            writeImage(mixed.back(), 4, 4);
    }
    auto sorted = mixed;
    dateSort(sorted);
    std::sort(sorted.begin(), sorted.end());
    std::sort(mixed.begin(), mixed.end());
    EXPECT_EQ(sorted, mixed);
}

TEST_F(ListFixture, FoldersAreExpandedAndTheListIsShownWithLabels)
{
    picture(dir / "pics/IMG_10.JPG");
    picture(dir / "pics/IMG_9.JPG");
    picture(dir / "pics/deeper/still/IMG_11.png");
    touch(dir / "pics/photo.Jpg");
    touch(dir / "pics/notes.txt");
    fs::create_directories(dir / "pics/folder.jpg");
    picture(dir / "single.tif");
    // Only regular files are images: a FIFO would block the listing for
    // ever, and links to folders are not followed (a loop would not end).
    ASSERT_EQ(::mkfifo((dir / "pics/b-fifo.jpg").c_str(), 0600), 0);
    fs::create_symlink(dir / "pics", dir / "pics/deeper/loop");
    fs::create_symlink(dir / "pics/missing.jpg", dir / "pics/dangling.jpg");

    ports.nextChoice = std::vector<std::string>{dir / "pics", dir / "single.tif"};
    ASSERT_TRUE(list.selectFiles());
    // Full paths are compared: pics/deeper/... sorts before pics/IMG_9.JPG.
    EXPECT_EQ(names(list.imageFiles()),
              (std::vector<std::string>{"IMG_11.png", "IMG_9.JPG", "IMG_10.JPG", "single.tif"}));
    EXPECT_EQ(ports.text, "IMG_11.png\nIMG_9.JPG\nIMG_10.JPG\nsingle.tif"); // no line feed after the last
    EXPECT_EQ(ports.labels().back(), "4 Images:");
    EXPECT_EQ(ports.numList, 4u);
    EXPECT_TRUE(ports.createEnabled);

    // A drop adds to the list and sorts the whole list again; a cancelled
    // dialog changes nothing.
    picture(dir / "more/IMG_1.jpg");
    list.processImageList({dir / "more"});
    ports.nextChoice.reset();
    EXPECT_FALSE(list.selectFiles());
    EXPECT_EQ(names(list.imageFiles()).front(), "IMG_1.jpg");
    EXPECT_EQ(list.fileCount(), 5u);

    list.clearList();
    EXPECT_EQ(list.fileCount(), 0u);
    EXPECT_EQ(ports.labels().back(), " ");
    EXPECT_FALSE(ports.createEnabled);
}

TEST_F(ListFixture, SelectFileShowsPositionAndHighlightsFirstOccurrence)
{
    picture(dir / "a/same.jpg");
    picture(dir / "b/same.jpg");
    picture(dir / "b/zz.jpg");
    list.processImageList({dir / "a", dir / "b"});
    list.selectFile(1);
    EXPECT_EQ(ports.labels().back(), "(2/3) Images:");
    EXPECT_EQ(ports.highlighted, std::make_pair(std::size_t(0), std::string("same.jpg").size()));
    list.selectFile(2);
    EXPECT_EQ(ports.highlighted.first, ports.text.find("zz.jpg"));
    const auto before = ports.labels().size();
    list.selectFile(3); // out of range: nothing
    EXPECT_EQ(ports.labels().size(), before);
}

TEST(VerifyListFile, FirstLineThenLinesInMacRoman)
{
    TempDir dir;
    const std::string path = dir / "Moirevance Verify List.txt";
    int enabled = 0;
    {
        VerifyList v(path);
        v.setOnWrite([&] { ++enabled; });
        v.writeVerifyFile("Create Movie: Can not form an image from caf\xC3\xA9.jpg\n");
        v.writeVerifyFile("Create Movie: \xE2\x9C\x93 \xE2\x80\xA0\n"); // check mark has no Mac OS Roman form
    }
    EXPECT_EQ(readFile(path), std::string("*** Moirevance Image Verification List ***\n"
                                          "Create Movie: Can not form an image from caf\x8E.jpg\n"
                                          "Create Movie: ? \xA0\n"));
    EXPECT_EQ(enabled, 2);

    // Deleted while in use: made again with its first line.
    VerifyList v(path);
    v.writeVerifyFile("one\n");
    fs::remove(path);
    v.writeVerifyFile("two\n");
    EXPECT_EQ(readFile(path), "*** Moirevance Image Verification List ***\ntwo\n");

    VerifyList none; // no data folder: nothing is written, nothing fails
    none.writeVerifyFile("lost\n");

    // Every byte survives the round trip; what has no form becomes "?".
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(toMacRoman(fromMacRoman(all)), all);
    EXPECT_EQ(toMacRoman("\xC2\xB0"), "\xA1");       // degree sign
    EXPECT_EQ(toMacRoman("\xE2\x82\xAC"), "\xDB");   // euro sign
    EXPECT_EQ(toMacRoman("bad \xFF byte"), "bad ? byte");
    EXPECT_EQ(toMacRoman("cut \xE2\x82"), "cut ??");
}

TEST_F(ListFixture, LayerAndMaskListsCheckCountsAndFirstSize)
{
    const auto mains = writeImages(dir / "main", 120, 4, 4, "png", "m");
    const auto layers = writeImages(dir / "layer", 120, 4, 4, "png", "l");
    list.processImageList({dir / "main"});
    // The count shows at every tenth image, then the whole.
    std::vector<std::string> counts{" "};
    for (int n = 0; n <= 120; n += 10)
        counts.push_back(std::to_string(n) + " Images:");
    EXPECT_EQ(ports.labels(), counts);
    int sounds = 0;
    list.setLayerSound([&] { ++sounds; });
    list.setIsLayerImages(true);

    // One layer image short: refused, with the counts.
    fs::remove(layers.back());
    ports.nextChoice = std::vector<std::string>{dir / "layer"};
    ASSERT_TRUE(list.selectFiles());
    EXPECT_EQ(ports.lastAlert(), "Number of layer images do not match / Images: 120, Layer images: 119");
    EXPECT_EQ(sounds, 0);

    // The missing one dropped in: the view pairs every image with its layer.
    picture(layers.back());
    list.processImageList({layers.back()});
    ASSERT_EQ(list.layerFiles().size(), 120u);
    EXPECT_EQ(ports.text.substr(0, 26), "m-0.png / l-0.png\nm-1.png ");
    EXPECT_EQ(ports.text.substr(ports.text.size() - 22), "\nm-119.png / l-119.png");
    EXPECT_EQ(ports.labels().back(), "100 Images:");
    EXPECT_EQ(sounds, 1);
    EXPECT_EQ(list.imageFiles(), mains); // untouched

    // Sorting again keeps the pairs and the main list where they belong.
    list.resortFiles(true);
    EXPECT_EQ(list.imageFiles(), mains);
    EXPECT_EQ(list.layerFiles().size(), 120u);
    EXPECT_EQ(sounds, 2);

    // Masks: one for every frame is taken (a count that does not match is
    // refused as layers are), and one of another size is refused even alone.
    list.setIsMaskImages(true);
    ports.nextChoice = std::vector<std::string>{layers[0]};
    list.selectFiles();
    EXPECT_EQ(list.maskFiles().size(), 1u);
    EXPECT_EQ(sounds, 3);
    writeImage(dir / "big-mask.png", 8, 4);
    ports.nextChoice = std::vector<std::string>{dir / "big-mask.png"};
    list.selectFiles();
    EXPECT_EQ(ports.lastAlert(), "Mask image size does not match / You can not mask with this image(s).");
    EXPECT_EQ(sounds, 3);

    list.clearList();
    EXPECT_FALSE(list.isLayerImages() || list.isMaskImages());
    EXPECT_TRUE(list.layerFiles().empty() && list.maskFiles().empty());
}

TEST_F(ListFixture, ResortingKeepsOneMaskPerImagePairedWithIt)
{
    // Created in the reverse of their names' order: by date the lists run
    // c, b, a; by name a, b, c.
    for (const char* prefix : {"m", "l", "k"})
        for (const char* name : {"c", "b", "a"}) {
            picture(dir / (std::string(prefix) + "-" + name + ".png"));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    auto files = [&](const char* prefix) {
        std::vector<std::string> v;
        for (const char* name : {"a", "b", "c"})
            v.push_back(dir / (std::string(prefix) + "-" + name + ".png"));
        return v;
    };
    list.setLayerSound([] {});
    list.processImageList(files("m"));
    list.setIsLayerImages(true);
    list.processImageList(files("l"));
    list.setIsMaskImages(true);
    list.processImageList(files("k"));
    list.setIsMaskImages(false);
    settings.isDateSort = true;
    list.resortFiles(false);
    for (const auto* v : {&list.imageFiles(), &list.layerFiles(), &list.maskFiles()})
        EXPECT_EQ(names(*v)[0].substr(1), "-c.png");
}
