// What the harnesses share: an input's words, and a check that stops the run
// (libFuzzer keeps the input; the replay fails) naming what did not hold.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

// The words as program's command line, given to parse (ParseOptions, ParseI2cOptions); false when it
// refuses them, which it must do with a reason that fits its buffer. The words live as long as
// *words: options may point into them.
template <typename Options, typename Parse>
bool FuzzParse(std::vector<std::string>* words, const char* program, Parse parse, Options* options)
{
    std::vector<char*> argv{const_cast<char*>(program)};
    for (std::string& word : *words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    char error[200];
    if (parse(static_cast<int>(argv.size()) - 1, argv.data(), options, error, sizeof error))
        return true;
    FUZZ_CHECK(strnlen(error, sizeof error) > 0 && strnlen(error, sizeof error) < sizeof error);
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
