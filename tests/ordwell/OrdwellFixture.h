#pragma once
#include "LoadedPlugin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Every test goes through the built library, loaded at run time from its path.
class OrdwellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(library.loaded()) << ORDWELL_LIBRARY_PATH;
        getFieldnames = library.entry<TGetFieldnames>("GetFieldnames");
        preprocess = library.entry<TPreprocess>("Preprocess");
        freePointer = library.entry<TFreePointer>("FreePointer");
        ASSERT_NE(getFieldnames, nullptr);
        ASSERT_NE(preprocess, nullptr);
        ASSERT_NE(freePointer, nullptr);
    }

    // Result text of Preprocess for a body; a null result fails the test.
    std::string run(const std::string& body, const char* sender = "buyer@example.com",
        const char* subject = "New order")
    {
        auto text = copyAndFree(preprocess(sender, subject, body.c_str()), freePointer);
        EXPECT_TRUE(text.has_value());
        return text.value_or(std::string());
    }

    // The result split at CR LF; a line end other than CR LF shows up as a broken line.
    std::vector<std::string> lines(const std::string& body)
    {
        const auto text = run(body);
        std::vector<std::string> result;
        std::size_t start = 0;
        while (start < text.size()) {
            const auto end = text.find("\r\n", start);
            if (end == std::string::npos) {
                ADD_FAILURE() << "last line not ended by CR LF: " << text.substr(start);
                result.push_back(text.substr(start));
                break;
            }
            result.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        return result;
    }

    LoadedPlugin library{ORDWELL_LIBRARY_PATH};
    TGetFieldnames getFieldnames = nullptr;
    TPreprocess preprocess = nullptr;
    TFreePointer freePointer = nullptr;
};

using Lines = std::vector<std::string>;
