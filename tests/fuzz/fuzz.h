// What the harnesses share: an input's words, and a check that stops the run
// (libFuzzer keeps the input; the replay fails) naming what did not hold.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

#define FUZZ_CHECK(c) ((c) ? (void)0 : (fprintf(stderr, "%s:%d: does not hold: %s\n", __FILE__, __LINE__, #c), abort()))

// The input split at blanks and line ends, as a shell gives the words.
inline std::vector<std::string> FuzzWords(const uint8_t* data, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// argv as a program gets it: its name, the words, a null.
inline std::vector<char*> FuzzArgv(std::vector<std::string>* words, const char* program)
{
    std::vector<char*> argv{const_cast<char*>(program)};
    for (std::string& word : *words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    return argv;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
