// The indexers' rules on a real scratch tree: what an impulse-response
// pattern stands for and which files it keeps, what a path that no file
// name can be is, keys made absolute, the text order of distinct keys, the
// combining strategies, where a validation set's files lie, and failed
// system calls.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/directory_listing.h"
#include "common/errors.h"
#include "common/file_kind.h"
#include "common/text_order.h"
#include "corpus/impulse_response_files.h"
#include "common/lexical_path.h"
#include "corpus/speaker_index.h"
#include "corpus/tree_walk.h"
#include "corpus/validation_layout.h"
#include "scratch_folder.h"

namespace speech::corpus {
namespace {

class ImpulseResponseTree : public ScratchFolderTest {
 protected:
  void SetUp() override {
    ScratchFolderTest::SetUp();
    for (const char* dir : {"rirs", "rirs/small", "rirs/small/r1", "rirs/small/r2", "rirs/small/r2/deep"}) {
      ASSERT_EQ(mkdir(at(dir).c_str(), 0755), 0);
    }
    for (const char* file : {"rirs/small/r1/a.wav", "rirs/small/r1/b.WAV", "rirs/small/r1/notes.txt",
                             "rirs/small/r2/c.flac", "rirs/small/r2/deep/d.wav", "loose.wav"}) {
      std::ofstream(at(file)) << "x";
    }
    ASSERT_EQ(mkfifo(at("rirs/small/r1/pipe.wav").c_str(), 0644), 0);
  }

  ImpulseResponseFiles files() const { return ImpulseResponseFiles(ExtensionFilter({".wav", ".flac"}, nullptr)); }

  static std::vector<std::string> listed(const std::vector<RoomType>& types) {
    std::vector<std::string> out;
    for (const RoomType& type : types) {
      for (const Room& room : type.rooms) {
        for (const std::string& path : room.paths) out.push_back(type.name + "|" + room.name + "|" + path);
      }
    }
    return out;
  }
};

TEST_F(ImpulseResponseTree, ADirectoryStandsForEveryAcceptedRegularFileOfItsTree) {
  ImpulseResponseFiles collected = files();
  EXPECT_TRUE(collected.add_path(at("rirs")));
  EXPECT_TRUE(collected.add_path(at("rirs/small/r1/a.wav")));  // met twice, kept once
  const std::string root = dir_.string();
  EXPECT_EQ(listed(collected.rooms()),
            (std::vector<std::string>{
                "small|r1|" + root + "/rirs/small/r1/a.wav", "small|r1|" + root + "/rirs/small/r1/b.WAV",
                "small|r2|" + root + "/rirs/small/r2/c.flac", "r2|deep|" + root + "/rirs/small/r2/deep/d.wav"}));
}

TEST_F(ImpulseResponseTree, AnythingElseIsLeftToGlobAndOnlyRegularMatchesCount) {
  ImpulseResponseFiles collected = files();
  EXPECT_FALSE(collected.add_path(at("rirs/*/r1/*.wav")));
  EXPECT_FALSE(collected.add_path(at("missing.wav")));
  EXPECT_FALSE(collected.add_path(at("loose.wav") + std::string(1, '\0') + "x"));
  EXPECT_FALSE(collected.add_path(at("rirs/small/r1/pipe.wav")));
  collected.add_match(at("rirs/small/r1/pipe.wav"));  // a FIFO would block its reader
  collected.add_match(at("rirs/small"));
  collected.add_match(at("rirs/small/r1/notes.txt"));
  collected.add_match(at("rirs/small/r1/a.wav"));
  const std::string root = dir_.string();
  EXPECT_EQ(listed(collected.rooms()), std::vector<std::string>{"small|r1|" + root + "/rirs/small/r1/a.wav"});
}

TEST_F(ImpulseResponseTree, WhatAPathIs) {
  EXPECT_TRUE(common::is_directory(at("rirs")));
  EXPECT_TRUE(common::is_regular_file(at("loose.wav")));
  EXPECT_FALSE(common::is_regular_file(at("rirs/small/r1/pipe.wav")));
  EXPECT_TRUE(common::path_exists(at("rirs/small/r1/pipe.wav")));
  const std::string with_nul = at("rirs") + std::string(1, '\0') + "x";
  EXPECT_EQ(common::entry_kind(with_nul), common::EntryKind::kOther);  // not the directory before the NUL
  EXPECT_FALSE(common::path_exists(with_nul));
}

class FailedSystemCalls : public ScratchFolderTest {};

// A listing that fails is the system's error for that number, about that
// path, so the binding edge raises the interpreter's own OSError subclass.
TEST_F(FailedSystemCalls, ListingsNameTheirErrorNumberAndPath) {
  std::ofstream(at("file.wav")) << "x";
  const struct {
    const char* name;
    std::string path;
    int error_number;
  } cases[] = {{"a missing folder", at("none"), ENOENT}, {"a file", at("file.wav"), ENOTDIR}};
  for (const auto& c : cases) {
    try {
      common::list_directory(c.path);
      ADD_FAILURE() << c.name << ": listed";
    } catch (const common::SystemCallError& e) {
      EXPECT_EQ(e.error_number, c.error_number) << c.name;
      EXPECT_EQ(e.path, c.path) << c.name;
      EXPECT_STREQ(e.what(), std::strerror(c.error_number)) << c.name;
    }
  }
}

TEST_F(FailedSystemCalls, AWalkSkipsWhatItCannotList) {
  std::ofstream(at("file.wav")) << "x";
  std::vector<std::string> seen;
  for (const char* top : {"none", "file.wav"}) {
    walk_regular_files(at(top), [&](const std::string& dir, const std::string& name) { seen.push_back(dir + name); });
  }
  EXPECT_TRUE(seen.empty());
}

TEST_F(FailedSystemCalls, ARemovedWorkingDirectoryIsACallAboutNoPath) {
  const std::filesystem::path before = std::filesystem::current_path();
  ASSERT_EQ(mkdir(at("gone").c_str(), 0755), 0);
  ASSERT_EQ(chdir(at("gone").c_str()), 0);
  ASSERT_EQ(rmdir(at("gone").c_str()), 0);
  common::WorkingDirectory cwd;
  try {
    cwd.get();
    ADD_FAILURE() << "a removed working directory had a path";
  } catch (const common::SystemCallError& e) {
    EXPECT_EQ(e.error_number, ENOENT);
    EXPECT_TRUE(e.path.empty());
  }
  std::filesystem::current_path(before);
}

TEST(CorpusKeys, MadeAbsoluteAgainstTheWorkingDirectorysKey) {
  common::WorkingDirectory cwd;
  EXPECT_EQ(common::absolute_order_key("/a//b/../c", cwd), "/a/c");
  EXPECT_EQ(common::absolute_order_key("x/./y", cwd), cwd.order_key() + "/x/y");
}

TEST(CorpusKeys, DistinctKeysInKeyOrderAtTheirFirstPlace) {
  EXPECT_EQ(common::distinct_in_key_order({"b", "a", "b", "c", "a"}), (std::vector<size_t>{1, 0, 3}));
  EXPECT_TRUE(common::distinct_in_key_order({}).empty());
}

TEST(CorpusSpeakers, CombiningStrategies) {
  EXPECT_EQ(combined_ids("prefix"), CombinedIds::kPrefixed);
  EXPECT_EQ(combined_ids("merge"), CombinedIds::kMerged);
  for (const char* other : {"", "Prefix", "prefix "}) EXPECT_THROW(combined_ids(other), common::ValueError) << other;
}

TEST(CorpusValidationLayout, TableAndFoldersOfASet) {
  EXPECT_EQ(validation_set(3), "3mix");
  EXPECT_EQ(validation_table(2), "/2mix/metadata_validation.csv");
  const std::vector<ValidationFiles> files = validation_files(2);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].field, "mixture_path");
  EXPECT_EQ(files[0].folder, "2mix/mixture");
  EXPECT_EQ(files[2].field, "spk2_path");
  EXPECT_EQ(files[2].folder, "2mix/s2");
}

}  // namespace
}  // namespace speech::corpus
