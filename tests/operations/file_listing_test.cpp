#include "operations/file_listing.h"
#include "platform/failure.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

namespace varnholt {
namespace {

TEST(FileListing, PatternLanguage) {
  struct Row {
    const char *text, *pattern;
    bool match;
  } rows[] = {
      {"abc", "a*", true},      {"Abc", "a*", false},     {"img01", "img##", true},
      {"img1", "img##", false}, {"bcd", "[!a]*", true},   {"abc", "[!a]*", false},
      {"Abc", "[!a]*", true},   {"a", "[a]", true},       {"ab", "[a]", false},
      {"c", "[a-f]", true},     {"g", "[a-f]", false},    {"a*b", "a[*]b", true},
      {"axb", "a[*]b", false},  {"", "*", true},          {"x", "", false},
      {"a?c", "a?c", true},     {"abc", "a?c", true},     {"ac", "a?c", false},
      {"x-y", "x[-]y", true},   {"abcabd", "*abd", true}, {"aXb", "a[]Xb", true},
      {"photo 1", "* #", true}, {"ÄÖ", "Ä?", true},       {"img09", "img##", true},
  };
  for (const Row &row : rows)
    EXPECT_EQ(MatchesPattern(QString::fromUtf8(row.text), QString::fromUtf8(row.pattern)),
              row.match)
        << row.text << " ~ " << row.pattern;
}

// The failure's text is checked where the batch mode reports it.
TEST(FileListing, MalformedPatternsAreErrors) {
  for (const char *pattern : {"[", "a[bc", "[z-a]"})
    EXPECT_THROW(MatchesPattern("a", pattern), Failure) << pattern;
}

// The extension follows the last dot; the pattern sees the name before it.
TEST(FileListing, AcceptTestUsesTheLastDotAndTheExtensionSet) {
  for (const char *name :
       {"IMG.JPG", "a.TiFf", "photo.2020.jpg", "2024.06.01 wedding.jpg", "Mr. Smith.jpg", "a.b.png",
        "IMG_0001.HEIC", "b.heif", "c.AVIF", "d.webp"})
    EXPECT_TRUE(IsListedImage(name, "", false)) << name;
  // ".png" is a hidden name, not an empty one.
  for (const char *name : {".hidden.png", ".png", "README", "notes.txt", "a.png.txt", "a.png.",
                           "clip.heics", "a.webm"})
    EXPECT_FALSE(IsListedImage(name, "", false)) << name;
  struct Row {
    const char *name, *pattern;
    bool inverse, listed;
  } rows[] = {
      {"2024.06.01 wedding.jpg", "2024.##.## *", false, true},
      {"2024.06.01 wedding.jpg", "2024", false, false},
      {"2024.06.01 wedding.jpg", "*.jpg", false, false},
      {"a.b.png", "a.b", false, true},
      {"a.b.png", "a.b", true, false},
      {"a.b.png", "a", true, true},
  };
  for (const Row &row : rows)
    EXPECT_EQ(IsListedImage(row.name, row.pattern, row.inverse), row.listed)
        << row.name << " ~ " << row.pattern << (row.inverse ? " inverse" : "");
}

TEST(FileListing, FolderListingIsSortedWithoutCaseAndSkipsFoldersAndHiddenFiles) {
  test::TempFolder dir;
  for (const char *name : {"b.png", "A.jpg", "a.png", "c.GIF", ".hidden.png", "x.txt", "a.b.png"})
    test::WriteBytes(dir.file(name), "x");
  QDir().mkpath(dir.file("folder.png"));
  EXPECT_EQ(ListImageFiles(dir.path(), "", false),
            (QStringList{"a.b.png", "A.jpg", "a.png", "b.png", "c.GIF"}));
  EXPECT_EQ(ListImageFiles(dir.path(), "[!b]", false), (QStringList{"A.jpg", "a.png", "c.GIF"}));
  EXPECT_EQ(ListImageFiles(dir.path(), "a", true),
            (QStringList{"a.b.png", "A.jpg", "b.png", "c.GIF"}));
  EXPECT_EQ(ListImageFiles(dir.path(), "", true), QStringList());
  EXPECT_THROW(ListImageFiles(dir.file("missing"), "", false), Failure);
  EXPECT_THROW(ListImageFiles(dir.path(), "[", false), Failure);
}

} // namespace
} // namespace varnholt
