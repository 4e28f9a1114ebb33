// What the harnesses share: an input's words, and a check that stops the run
// (libFuzzer keeps the input; the replay fails) naming what did not hold.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            fprintf(stderr, "%s:%d: does not hold: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                   \
        }                                                                              \
    } while (0)

// The input split at blanks and line ends, as a shell would give the words.
inline std::vector<std::string> FuzzWords(const uint8_t* data, size_t size)
{
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size; i++) {
        char c = static_cast<char>(data[i]);
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\0') {
            if (!words.back().empty())
                words.emplace_back();
        } else {
            words.back() += c;
        }
    }
    if (words.back().empty())
        words.pop_back();
    return words;
}

// argv as a program gets it: its name first, then the words.
inline std::vector<char*> FuzzArgv(std::vector<std::string>* words, const char* program)
{
    std::vector<char*> argv{const_cast<char*>(program)};
    for (std::string& word : *words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    return argv;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
