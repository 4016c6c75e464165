// The Ember+ codec against bytes made by an independent implementation (node-emberplus), and
// malformed input, which must come back as a failure.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ember/glow.h"
#include "ember/s101.h"

namespace vantrel::ember {
namespace ember_codec_test {
namespace {

Bytes Hex(const std::string& text) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::vector<S101Message> Decode(S101Decoder& decoder, const Bytes& bytes, Outcome* outcome) {
    std::vector<S101Message> messages;
    *outcome = decoder.Feed(bytes.data(), bytes.size(),
                            [&](S101Message m) { messages.push_back(std::move(m)); });
    return messages;
}

// node-emberplus's requests, as it frames and encodes them.
const Bytes kRootGetDirectory = Hex("60106b0ea00c620aa003020120a1030201ff");
const Bytes kRootGetDirectoryFrame =
    Hex("fe000e0001c001021f0260106b0ea00c620aa003020120a1030201fddf948fff");
const Bytes kNodeGetDirectory =
    Hex("601f6b1da01b6a19a0050d03010102a210640ea00c620aa003020120a1030201ff");
const Bytes kParameterSet = Hex("601c6b1aa0186916a0060d0401010202a10c310aa203020119ad03020101");
const Bytes kFunctionInvoke =
    Hex("60296b27a0257423a0070d050101020f0da2186416a0146212a003020121a20b7609a003020101a1023000");

// An Ember packet with `flags` (0x80 first, 0x40 last) holding `glow`, framed by hand.
Bytes Packet(std::uint8_t flags, const Bytes& glow) {
    Bytes body{0x00, 0x0E, 0x00, 0x01, flags, 0x01, 0x02, 0x1F, 0x02};
    body.insert(body.end(), glow.begin(), glow.end());
    const auto crc = static_cast<std::uint16_t>(~Crc16(body.data(), body.size()));
    body.push_back(static_cast<std::uint8_t>(crc));
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    Bytes frame{0xFE};
    for (std::uint8_t b : body) {
        if (b >= 0xF8) {
            frame.push_back(0xFD);
            frame.push_back(static_cast<std::uint8_t>(b ^ 0x20));
        } else {
            frame.push_back(b);
        }
    }
    frame.push_back(0xFF);
    return frame;
}

TEST(EmberS101, FramesAsAnIndependentImplementationDoes) {
    EXPECT_EQ(EncodeS101({S101Kind::kKeepAliveRequest, {}}), Hex("fe000e010194e4ff"));
    // The CRC's high byte is 0xFF here, so it is escaped.
    EXPECT_EQ(EncodeS101({S101Kind::kKeepAliveResponse, {}}), Hex("fe000e0201fddcceff"));
    EXPECT_EQ(EncodeS101({S101Kind::kEmber, kRootGetDirectory}), kRootGetDirectoryFrame);
}

TEST(EmberS101, DecodesFramesSplitAnywhereAndJoinsMultiPacketMessages) {
    Bytes stream = EncodeS101({S101Kind::kKeepAliveRequest, {}});
    stream.insert(stream.end(), kRootGetDirectoryFrame.begin(), kRootGetDirectoryFrame.end());
    S101Decoder decoder;
    std::vector<S101Message> messages;
    for (std::uint8_t byte : stream) {
        ASSERT_TRUE(decoder.Feed(&byte, 1, [&](S101Message m) { messages.push_back(m); }).Ok());
    }
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].kind, S101Kind::kKeepAliveRequest);
    EXPECT_EQ(messages[1].kind, S101Kind::kEmber);
    EXPECT_EQ(messages[1].glow, kRootGetDirectory);

    // The same message in a first and a last packet (flags 0x80, 0x40), each with its CRC.
    Bytes twoPackets =
        Packet(0x80, Bytes(kRootGetDirectory.begin(), kRootGetDirectory.begin() + 7));
    const Bytes last = Packet(0x40, Bytes(kRootGetDirectory.begin() + 7, kRootGetDirectory.end()));
    twoPackets.insert(twoPackets.end(), last.begin(), last.end());
    Outcome outcome;
    messages = Decode(decoder, twoPackets, &outcome);
    ASSERT_TRUE(outcome.Ok()) << outcome.Text();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].glow, kRootGetDirectory);
}

TEST(EmberS101, RefusesMalformedFrames) {
    Bytes badCrc = kRootGetDirectoryFrame;
    badCrc[12] ^= 0x01;
    Bytes unescaped = kRootGetDirectoryFrame;
    unescaped.insert(unescaped.begin() + 5, 0xFA);
    Bytes badEscape = kRootGetDirectoryFrame;
    badEscape.insert(badEscape.begin() + 5, {0xFD, 0x01});
    const Bytes cases[] = {badCrc, unescaped, badEscape, Hex("0102"), Hex("fe0102ff"),
                           Hex("fe000e0301ff"),
                           // a last packet that continues nothing
                           Hex("fe000e000140010200ff")};
    for (const Bytes& bytes : cases) {
        S101Decoder decoder;
        Outcome outcome;
        EXPECT_TRUE(Decode(decoder, bytes, &outcome).empty());
        EXPECT_FALSE(outcome.Ok());
        EXPECT_STRNE(outcome.Text(), "");
    }
    S101Decoder small(16);
    Bytes longFrame{0xFE};
    longFrame.insert(longFrame.end(), 64, 0x01);
    Outcome outcome;
    Decode(small, longFrame, &outcome);
    EXPECT_EQ(std::string(outcome.Text()), "a frame is too long");
}

TEST(EmberS101, ARestartedFrameIsDroppedAndAJoinedMessageHasALimit) {
    Bytes restarted{0xFE, 0x00, 0x0E};
    restarted.insert(restarted.end(), kRootGetDirectoryFrame.begin(), kRootGetDirectoryFrame.end());
    S101Decoder decoder;
    Outcome outcome;
    std::vector<S101Message> messages = Decode(decoder, restarted, &outcome);
    ASSERT_TRUE(outcome.Ok()) << outcome.Text();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].glow, kRootGetDirectory);

    // Each packet is within the limit; the message they join is not.
    Bytes twoPackets =
        Packet(0x80, Bytes(kRootGetDirectory.begin(), kRootGetDirectory.begin() + 9));
    const Bytes last = Packet(0x40, Bytes(kRootGetDirectory.begin() + 9, kRootGetDirectory.end()));
    twoPackets.insert(twoPackets.end(), last.begin(), last.end());
    S101Decoder small(12);
    EXPECT_TRUE(Decode(small, twoPackets, &outcome).empty());
    EXPECT_EQ(std::string(outcome.Text()), "a message is too long");
}

TEST(EmberBer, IntegersRealsAndPathsRoundTrip) {
    const std::pair<std::int64_t, std::string> integers[] = {
        {0, "020100"},      {127, "02017f"},
        {128, "02020080"},  {-1, "0201ff"},
        {-129, "0202ff7f"}, {std::numeric_limits<std::int64_t>::min(), "02088000000000000000"}};
    for (const auto& [value, hex] : integers) {
        BerWriter w;
        w.Integer(value);
        EXPECT_EQ(w.Data(), Hex(hex)) << value;
        BerReader r(w.Data().data(), w.Data().size());
        EXPECT_EQ(BerReader::Integer(r.Next().Value()).Value(), value);
    }
    for (double value : {0.0, 1.5, -0.25, 1e300, 3.0e-310, -7.0, HUGE_VAL}) {
        BerWriter w;
        w.Real(value);
        BerReader r(w.Data().data(), w.Data().size());
        EXPECT_EQ(BerReader::Real(r.Next().Value()).Value(), value);
    }
    BerWriter w;
    w.Real(0.5);  // mantissa 1, exponent -1
    EXPECT_EQ(w.Data(), Hex("090380ff01"));
    BerWriter path;
    path.RelativeOid({1, 1, 200, 0});
    EXPECT_EQ(path.Data(), Hex("0d050101814800"));
    BerReader r(path.Data().data(), path.Data().size());
    EXPECT_EQ(BerReader::RelativeOid(r.Next().Value()).Value(),
              (std::vector<std::uint32_t>{1, 1, 200, 0}));
}

TEST(EmberBer, LongTagNumbersAndSpecialRealsRoundTripAndBadRealsAndPathsFail) {
    BerWriter w;
    w.Open(Context(200));  // past 30, the number follows the tag's first byte in base 128
    w.Integer(1);
    w.Close();
    EXPECT_EQ(w.Data(), Hex("bf814803020101"));
    BerReader r(w.Data().data(), w.Data().size());
    EXPECT_EQ(r.Next().Value().tag, Context(200));

    auto real = [](double value) {
        BerWriter writer;
        writer.Real(value);
        BerReader reader(writer.Data().data(), writer.Data().size());
        return BerReader::Real(reader.Next().Value()).Value();
    };
    EXPECT_TRUE(std::signbit(real(-0.0)) && real(-0.0) == 0.0);
    EXPECT_EQ(real(-HUGE_VAL), -HUGE_VAL);
    EXPECT_TRUE(std::isnan(real(std::nan(""))));

    // Not base 2; base 8; a 3-byte exponent; a 9-byte mantissa; a path's number cut short; a
    // path's number past 32 bits.
    for (const char* hex : {"090103", "0903900001", "09058200000001", "090b8000010203040506070809",
                            "0d0181", "0d059080808000"}) {
        const Bytes bytes = Hex(hex);
        BerReader reader(bytes.data(), bytes.size());
        const Tlv tlv = reader.Next().Value();
        EXPECT_FALSE(BerReader::Real(tlv).Ok() || BerReader::RelativeOid(tlv).Ok()) << hex;
    }
}

TEST(EmberBer, ReadsIndefiniteLengthsAndRefusesWhatDoesNotFit) {
    // [0] { INTEGER 5 } with an indefinite length, then INTEGER 6
    const Bytes indefinite = Hex("a0800201050000020106");
    BerReader r(indefinite.data(), indefinite.size());
    Tlv outer = r.Next().Value();
    EXPECT_EQ(outer.size, 3u);
    EXPECT_EQ(BerReader::Integer(r.Next().Value()).Value(), 6);
    EXPECT_TRUE(r.AtEnd());

    Bytes deep;
    for (int i = 0; i < 200; ++i) deep.insert(deep.end(), {0xA0, 0x80});
    const Bytes cases[] = {Hex("0205010203"), Hex("3084ffffffff"), Hex("1f8080808001"), Hex("0280"),
                           deep};
    for (const Bytes& bytes : cases) {
        BerReader reader(bytes.data(), bytes.size());
        Result<Tlv> tlv = reader.Next();
        EXPECT_FALSE(tlv.Ok());
    }
    EXPECT_FALSE(BerReader::Integer({Universal(universal::kInteger), nullptr, 0}).Ok());
    const std::uint8_t nine[9] = {};
    EXPECT_FALSE(BerReader::Integer({Universal(universal::kInteger), nine, 9}).Ok());
    EXPECT_FALSE(BerReader::Boolean({Universal(universal::kInteger), nine, 1}).Ok());
}

TEST(EmberGlow, DecodesAConsumersRequests) {
    Root root = DecodeGlow(kRootGetDirectory).Value();
    auto& top = std::get<std::vector<Element>>(root.body);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].kind, ElementKind::kCommand);
    EXPECT_EQ(top[0].command.type, CommandType::kGetDirectory);
    EXPECT_EQ(top[0].command.dirFieldMask, -1);

    root = DecodeGlow(kNodeGetDirectory).Value();
    const Element& node = std::get<std::vector<Element>>(root.body).at(0);
    EXPECT_EQ(node.kind, ElementKind::kNode);
    EXPECT_TRUE(node.qualified);
    EXPECT_EQ(node.path, (std::vector<std::uint32_t>{1, 1, 2}));
    ASSERT_TRUE(node.children);
    EXPECT_EQ(node.children->at(0).command.type, CommandType::kGetDirectory);

    root = DecodeGlow(kParameterSet).Value();
    const Element& set = std::get<std::vector<Element>>(root.body).at(0);
    EXPECT_EQ(set.kind, ElementKind::kParameter);
    EXPECT_EQ(set.path, (std::vector<std::uint32_t>{1, 1, 2, 2}));
    EXPECT_EQ(std::get<ParameterContents>(set.contents).value, Value(std::int64_t{25}));

    root = DecodeGlow(kFunctionInvoke).Value();
    const Element& invoke = std::get<std::vector<Element>>(root.body).at(0);
    EXPECT_EQ(invoke.kind, ElementKind::kFunction);
    EXPECT_EQ(invoke.path, (std::vector<std::uint32_t>{1, 1, 2, 15, 13}));
    const Command& command = invoke.children->at(0).command;
    EXPECT_EQ(command.type, CommandType::kInvoke);
    EXPECT_EQ(command.invocation->id, 1);
    EXPECT_TRUE(command.invocation->arguments.empty());
}

TEST(EmberGlow, EncodesRequestsAsAnIndependentImplementationDoes) {
    const Element getDirectory = CommandElement({CommandType::kGetDirectory, -1, std::nullopt});
    EXPECT_EQ(EncodeGlow({std::vector<Element>{getDirectory}}), kRootGetDirectory);

    Element node = QualifiedElement(ElementKind::kNode, {1, 1, 2});
    node.children = std::vector<Element>{getDirectory};
    EXPECT_EQ(EncodeGlow({std::vector<Element>{node}}), kNodeGetDirectory);

    Element set = QualifiedElement(ElementKind::kParameter, {1, 1, 2, 2});
    ParameterContents contents;
    contents.value = std::int64_t{25};
    contents.type = ParameterType::kInteger;
    set.contents = contents;
    EXPECT_EQ(EncodeGlow({std::vector<Element>{set}}), kParameterSet);

    const Element invoke = CommandElement({CommandType::kInvoke, std::nullopt, Invocation{1, {}}});
    Element function = QualifiedElement(ElementKind::kFunction, {1, 1, 2, 15, 13});
    function.children = std::vector<Element>{invoke};
    EXPECT_EQ(EncodeGlow({std::vector<Element>{function}}), kFunctionInvoke);
}

TEST(EmberGlow, AProvidersAnswersRoundTrip) {
    Element parameter = NumberedElement(ElementKind::kParameter, 6);
    ParameterContents p;
    p.identifier = "input";
    p.value = std::int64_t{2};
    p.access = Access::kReadWrite;
    p.type = ParameterType::kEnum;
    p.enumeration = "HDMI\nSDI\nBalanced\nUnbalanced";
    parameter.contents = p;
    Element function = NumberedElement(ElementKind::kFunction, 13);
    FunctionContents f;
    f.identifier = "mute";
    f.arguments = std::vector<TupleItem>{};
    f.result = std::vector<TupleItem>{{ParameterType::kBoolean, "confirmed"}};
    function.contents = f;
    Element unit = QualifiedElement(ElementKind::kNode, {1, 1, 3});
    unit.contents = NodeContents{"127_0_0_61", "127.0.0.61", std::nullopt, false};
    unit.children = std::vector<Element>{parameter, function};

    const Root decoded = DecodeGlow(EncodeGlow({std::vector<Element>{unit}})).Value();
    const Element& back = std::get<std::vector<Element>>(decoded.body).at(0);
    EXPECT_EQ(back.path, unit.path);
    EXPECT_EQ(std::get<NodeContents>(back.contents).isOnline, false);
    EXPECT_EQ(std::get<NodeContents>(back.contents).identifier, "127_0_0_61");
    const auto& backParameter = std::get<ParameterContents>(back.children->at(0).contents);
    EXPECT_EQ(backParameter.enumeration, p.enumeration);
    EXPECT_EQ(backParameter.access, Access::kReadWrite);
    EXPECT_EQ(backParameter.type, ParameterType::kEnum);
    const auto& backFunction = std::get<FunctionContents>(back.children->at(1).contents);
    EXPECT_EQ(backFunction.result->at(0).name, "confirmed");

    const Bytes result = EncodeGlow({InvocationResult{7, true, {Value(false)}}});
    EXPECT_EQ(result, Hex("60157713a003020107a1030101ffa2073005a003010100"));
    const auto back2 = std::get<InvocationResult>(DecodeGlow(result).Value().body);
    EXPECT_EQ(back2.id, 7);
    EXPECT_EQ(back2.result.at(0), Value(false));
}

TEST(EmberGlow, PassesOverAMatrixAndUnknownFields) {
    // A matrix, then node 4 with an unknown field [9] and no contents.
    const Result<Root> root =
        DecodeGlow(Hex("60196b17a0076d05a003020101a00c630aa003020104a9030c0178"));
    ASSERT_TRUE(root.Ok()) << root.Text();
    const auto& elements = std::get<std::vector<Element>>(root.Value().body);
    ASSERT_EQ(elements.size(), 1u);
    EXPECT_EQ(elements[0].kind, ElementKind::kNode);
    EXPECT_EQ(elements[0].path, (std::vector<std::uint32_t>{4}));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(elements[0].contents));
}

TEST(EmberGlow, RefusesMalformedMessages) {
    const Bytes cases[] = {
        Hex(""),
        Hex("6100"),                                        // not a root
        Hex("60106b0ea00c620aa003020120a1030201"),          // cut short
        Hex("60086b06a0046202a000"),                        // a command's number is empty
        Hex("60096b07a0056203a00102"),                      // a field cut inside
        Hex("600b6b09a0076205a003020163"),                  // a command of no known kind
        Hex("600a6b08a0066304a1023100"),                    // a node without its number
        Hex("60106b0ea00c620aa003020120a1030201ff00"),      // bytes after the root
        Hex("600b6b09a0076305a0030201ff"),                  // a node numbered -1
        Hex("60136b11a00f610da003020102a1063104a2023000"),  // a value that is a sequence
    };
    for (const Bytes& bytes : cases) {
        Result<Root> root = DecodeGlow(bytes);
        EXPECT_FALSE(root.Ok()) << ::testing::PrintToString(bytes);
        EXPECT_STRNE(root.Text(), "");
    }
}

}  // namespace
}  // namespace ember_codec_test
}  // namespace vantrel::ember
