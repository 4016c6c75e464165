// The abuse benchmark's response reader: it must end a response exactly where it ends, however
// the bytes are split, or the benchmark would count errors that are not there (or miss some).
#include <gtest/gtest.h>

#include <string>

#include "bench/http_wire.h"

namespace vantrel {
namespace bench_response_reader_test {
namespace {

using bench::ResponseReader;

// Feeds a byte at a time; how many bytes it took to finish (0: not finished).
size_t BytesToFinish(ResponseReader& reader, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (reader.Feed(&text[i], 1)) return i + 1;
    }
    return 0;
}

TEST(BenchResponseReaderTest, EndsAtTheLengthOrTheLastChunkHoweverSplit) {
    const std::string sized = "HTTP/1.1 200 OK\r\ncontent-LENGTH: 5\r\n\r\nhello";
    ResponseReader reader;
    EXPECT_EQ(BytesToFinish(reader, sized + "HTTP/1.1"), sized.size());
    EXPECT_EQ(reader.Status(), 200);
    EXPECT_TRUE(reader.KeepAlive());

    const std::string chunked =
        "HTTP/1.1 503 Busy\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
        "5;note=x\r\n0\r\n\r\n\r\n"  // a chunk whose data looks like the last chunk
        "0\r\nTrailer: t\r\n\r\n";
    reader.Reset();
    EXPECT_EQ(BytesToFinish(reader, chunked), chunked.size());
    EXPECT_EQ(reader.Status(), 503);
    EXPECT_FALSE(reader.KeepAlive());

    reader.Reset();
    EXPECT_TRUE(reader.Feed(chunked.data(), chunked.size()));  // all at once, too
}

TEST(BenchResponseReaderTest, ABodyWithoutLengthEndsOnlyAtTheClose) {
    ResponseReader reader;
    const std::string text = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nall of it";
    EXPECT_FALSE(reader.Feed(text.data(), text.size()));
    EXPECT_TRUE(reader.Close());
    EXPECT_FALSE(reader.KeepAlive());

    const std::string cut = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhalf";
    reader.Reset();
    EXPECT_FALSE(reader.Feed(cut.data(), cut.size()));
    EXPECT_FALSE(reader.Close());  // closed short of its length: not a response

    const std::string empty = "HTTP/1.1 204 No Content\r\n\r\n";
    reader.Reset();
    EXPECT_TRUE(reader.Feed(empty.data(), empty.size()));
}

TEST(BenchResponseReaderTest, WhatIsNotAResponseIsBad) {
    for (const std::string text : {"SSH-2.0-x\r\n", "HTTP/1.1 xyz\r\n"}) {
        ResponseReader reader;
        EXPECT_FALSE(reader.Feed(text.data(), text.size())) << text;
        EXPECT_TRUE(reader.Bad()) << text;
    }
}

}  // namespace
}  // namespace bench_response_reader_test
}  // namespace vantrel
