// The public JSON parsing corpus, through Load.
//
// Load takes GBK text while the corpus files are UTF-8 bytes, so each file goes through
// the same UTF-8 -> GBK conversion as a downloaded reply. The conversion only touches
// non-ASCII characters, which in this corpus stand inside strings or are themselves the
// fault; a character GBK lacks, or a malformed byte, becomes '?', which keeps a valid
// text valid (inside a string) and an invalid one invalid (outside a string). So the
// expectations stand after the conversion: y_ files parse, n_ files are refused, i_ files
// may go either way but must return.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "json/json_document.h"
#include "json/script_control.h"
#include "json_test_text.h"

namespace newsbar {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> CorpusFiles(char prefix) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(NEWSBAR_JSON_TEST_SUITE_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 2 && name[0] == prefix && name[1] == '_' && name.ends_with(".json")) {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

Text ReadAsGbk(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Utf8ToGbk(bytes);
}

class JsonTestSuite : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::is_directory(NEWSBAR_JSON_TEST_SUITE_DIR)) {
      GTEST_SKIP() << "no JSON parsing corpus at " << NEWSBAR_JSON_TEST_SUITE_DIR;
    }
  }
};

TEST_F(JsonTestSuite, EveryAcceptedTextLoads) {
  const auto files = CorpusFiles('y');
  ASSERT_FALSE(files.empty());
  int loaded = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    JsonDocument doc;
    ScriptError error;
    const bool result = doc.Load(ReadAsGbk(file), false, &error);
    EXPECT_EQ(error.Number, 0) << error.Description;
    // A null root is what a failed load leaves, so "null" alone reads false, error-free.
    if (file.filename() == "y_structure_lonely_null.json") {
      EXPECT_FALSE(result);
    } else {
      EXPECT_TRUE(result);
      EXPECT_NE(doc.GetType(), 0);
    }
    loaded += error.Number == 0;
  }
  std::printf("[ corpus   ] y_: %d of %zu parsed\n", loaded, files.size());
}

TEST_F(JsonTestSuite, EveryRejectedTextIsRefused) {
  const auto files = CorpusFiles('n');
  ASSERT_FALSE(files.empty());
  int refused = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    JsonDocument doc;
    ScriptError error;
    EXPECT_FALSE(doc.Load(ReadAsGbk(file), false, &error));
    EXPECT_EQ(error.Number, kScriptSyntaxError);
    EXPECT_FALSE(doc.Exists());
    refused += error.Number == kScriptSyntaxError;
  }
  std::printf("[ corpus   ] n_: %d of %zu refused\n", refused, files.size());
}

TEST_F(JsonTestSuite, EveryUndecidedTextReturns) {
  const auto files = CorpusFiles('i');
  ASSERT_FALSE(files.empty());
  int loaded = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    JsonDocument doc;
    ScriptError error;
    const bool result = doc.Load(ReadAsGbk(file), false, &error);
    // Either way the outcome is consistent, and the document stays usable.
    EXPECT_EQ(result, error.Number == 0);
    EXPECT_EQ(result, doc.Exists());
    EXPECT_TRUE(doc.Load("{}"));
    loaded += result;
  }
  std::printf("[ corpus   ] i_: %d of %zu parsed, the rest refused\n", loaded, files.size());
}

}  // namespace
}  // namespace newsbar
