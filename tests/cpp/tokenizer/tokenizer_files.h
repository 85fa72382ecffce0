// What the segmenter's tests share: the paths of the standard dictionaries,
// and a folder of this process's own for the files a test writes.

#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "tokenizer/data_file_check.h"

namespace vorn::typing::text {

inline JiebaDataPaths standard_paths() {
    const std::string dir = VORN_DICT_DIR;
    return {dir + "/jieba.dict.utf8", dir + "/hmm_model.utf8", "", dir + "/idf.utf8",
            dir + "/stop_words.utf8"};
}

// Created empty, removed with everything in it when the owner goes.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& prefix)
        : path_(std::filesystem::temp_directory_path() / (prefix + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ScratchFolder(ScratchFolder&&) = delete;
    ScratchFolder& operator=(ScratchFolder&&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // The file `name` in the folder, holding exactly `content`; its path.
    std::string write(const std::string& name, const std::string& content) const {
        const std::string file = path_ / name;
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace vorn::typing::text
