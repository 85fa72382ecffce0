// The library side of the segmentation benchmark: cppjieba called from C++
// with the same dictionaries and compile flags as the module, so that the
// gap to the Python binding is what the binding itself costs.
//
//   jieba_bench construct DICT_DIR          prints the seconds one construction takes, by
//                                           wall clock and in processor time
//   jieba_bench serve DICT_DIR CORPUS       answers commands read from standard input
//
// Commands of `serve`, one a line; each answer is one line "seconds words":
//   cut | cut_for_search       one call per corpus line, results discarded (processor time)
//   long THREADS LINES         texts of LINES corpus lines each, cut on THREADS threads
//                              (wall time)

#include <chrono>
#include <cppjieba/Jieba.hpp>
#include <cstddef>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time of the whole process: on a shared machine it leaves out the
// time spent waiting for a core, which wall time would count at random.
double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::unique_ptr<cppjieba::Jieba> make_jieba(const std::string& dict_dir) {
    // The same five files, and no user dictionary, as pyvornlex_data.dict_paths().
    return std::make_unique<cppjieba::Jieba>(dict_dir + "/jieba.dict.utf8",
                                             dict_dir + "/hmm_model.utf8", "",
                                             dict_dir + "/idf.utf8", dict_dir + "/stop_words.utf8");
}

std::vector<std::string> read_lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::vector<std::string> join_lines(const std::vector<std::string>& lines, std::size_t per_text) {
    std::vector<std::string> texts;
    for (std::size_t start = 0; start < lines.size(); start += per_text) {
        std::string text;
        for (std::size_t i = start; i < lines.size() && i < start + per_text; ++i) {
            text += lines[i];
            text += '\n';
        }
        texts.push_back(std::move(text));
    }
    return texts;
}

// A fresh vector per call, dropped after it, as the binding does; the word
// count keeps the work from being optimised away and lets the caller check
// that both sides cut alike.
std::size_t cut_range(const cppjieba::Jieba& jieba, const std::vector<std::string>& texts,
                      std::size_t begin, std::size_t end, bool for_search) {
    std::size_t words = 0;
    for (std::size_t i = begin; i < end; ++i) {
        std::vector<std::string> result;
        if (for_search) {
            jieba.CutForSearch(texts[i], result, true);
        } else {
            jieba.Cut(texts[i], result, true);
        }
        words += result.size();
    }
    return words;
}

void answer(double seconds, std::size_t words) {
    std::cout << seconds << ' ' << words << std::endl;
}

void serve_long(const cppjieba::Jieba& jieba, const std::vector<std::string>& lines,
                std::size_t threads, std::size_t per_text) {
    const std::vector<std::string> texts = join_lines(lines, per_text);
    std::vector<std::size_t> words(threads, 0);
    const auto start = Clock::now();
    std::vector<std::thread> workers;
    for (std::size_t t = 0; t < threads; ++t) {
        const std::size_t begin = texts.size() * t / threads;
        const std::size_t end = texts.size() * (t + 1) / threads;
        workers.emplace_back(
            [&, t, begin, end] { words[t] = cut_range(jieba, texts, begin, end, false); });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    const double elapsed = seconds_since(start);
    std::size_t total = 0;
    for (const std::size_t count : words) {
        total += count;
    }
    answer(elapsed, total);
}

int serve(const std::string& dict_dir, const std::string& corpus) {
    const auto jieba = make_jieba(dict_dir);
    const std::vector<std::string> lines = read_lines(corpus);
    std::cout << "ready " << lines.size() << std::endl;
    for (std::string command; std::getline(std::cin, command);) {
        std::istringstream words(command);
        std::string name;
        words >> name;
        if (name == "cut" || name == "cut_for_search") {
            const double start = cpu_seconds();
            const std::size_t count =
                cut_range(*jieba, lines, 0, lines.size(), name == "cut_for_search");
            answer(cpu_seconds() - start, count);
        } else if (name == "long") {
            std::size_t threads = 1;
            std::size_t per_text = 100;
            words >> threads >> per_text;
            serve_long(*jieba, lines, threads, per_text);
        } else if (name == "quit") {
            break;
        } else {
            std::cerr << "jieba_bench: unknown command " << name << '\n';
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "construct") {
        const auto wall = Clock::now();
        const double start = cpu_seconds();
        const auto jieba = make_jieba(args[1]);
        const double processor = cpu_seconds() - start;
        std::cout << seconds_since(wall) << ' ' << processor << std::endl;
        return 0;
    }
    if (args.size() == 3 && args[0] == "serve") {
        return serve(args[1], args[2]);
    }
    std::cerr << "usage: jieba_bench construct DICT_DIR | jieba_bench serve DICT_DIR CORPUS\n";
    return 2;
}
