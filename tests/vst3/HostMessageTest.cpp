// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/HostMessage.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kelaudiofilterhost::vst3 {
namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;

const TChar kHello[] = {'h', 'e', 'l', 'l', 'o', 0};

TEST(HostAttributeList, NumbersShareOneStorageWhateverTheKind)
{
    HostAttributeList list;
    ASSERT_EQ(list.setFloat("f", 1.0), kResultOk);
    int64 asInt = 0;
    ASSERT_EQ(list.getInt("f", asInt), kResultOk);
    EXPECT_EQ(asInt, 0x3FF0000000000000);

    ASSERT_EQ(list.setInt("i", 0x4000000000000000), kResultOk);
    double asFloat = 0;
    ASSERT_EQ(list.getFloat("i", asFloat), kResultOk);
    EXPECT_EQ(asFloat, 2.0);

    ASSERT_EQ(list.setInt("i", -5), kResultOk);
    ASSERT_EQ(list.getInt("i", asInt), kResultOk);
    EXPECT_EQ(asInt, -5);
}

TEST(HostAttributeList, StringsCopyAtMostTheBufferWithoutATerminator)
{
    HostAttributeList list;
    ASSERT_EQ(list.setString("s", kHello), kResultOk);
    TChar buffer[4] = {'x', 'x', 'x', 'x'};
    ASSERT_EQ(list.getString("s", buffer, 6), kResultOk);
    EXPECT_EQ(buffer[0], 'h');
    EXPECT_EQ(buffer[2], 'l');
    EXPECT_EQ(buffer[3], 'x'); // three characters, no terminator

    TChar whole[8] = {};
    ASSERT_EQ(list.getString("s", whole, sizeof(whole)), kResultOk);
    EXPECT_EQ(std::memcmp(whole, kHello, sizeof(kHello)), 0);
    EXPECT_EQ(list.getString("s", nullptr, 0), kResultOk);
    EXPECT_EQ(list.getString("s", nullptr, 4), kInvalidArgument);
    EXPECT_EQ(list.setString("s", nullptr), kInvalidArgument);
}

TEST(HostAttributeList, ASecondSetReplacesTheValueAndItsKind)
{
    HostAttributeList list;
    ASSERT_EQ(list.setInt("k", 3), kResultOk);
    ASSERT_EQ(list.setString("k", kHello), kResultOk);
    EXPECT_EQ(list.GetSize(), 1u);
    ASSERT_NE(list.Find("k"), nullptr);
    EXPECT_EQ(list.Find("k")->mKind, HostAttributeList::HostAttribute::kString);

    const unsigned char bytes[] = {1, 2, 3};
    ASSERT_EQ(list.setBinary("k", bytes, 3), kResultOk);
    const void* data = nullptr;
    uint32 size = 0;
    ASSERT_EQ(list.getBinary("k", data, size), kResultOk);
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(std::memcmp(data, bytes, 3), 0);
    EXPECT_NE(data, bytes); // the list owns a copy
    EXPECT_EQ(list.setBinary("k", nullptr, 3), kInvalidArgument);
    EXPECT_EQ(list.setBinary("empty", nullptr, 0), kResultOk);
}

TEST(HostAttributeList, MissingKeysLeaveOutputsAloneExceptTheBinarySize)
{
    HostAttributeList list;
    int64 integer = 17;
    double number = 1.5;
    TChar text[2] = {'a', 'b'};
    const void* data = &integer;
    uint32 size = 99;
    EXPECT_EQ(list.getInt("missing", integer), kResultFalse);
    EXPECT_EQ(list.getFloat("missing", number), kResultFalse);
    EXPECT_EQ(list.getString("missing", text, sizeof(text)), kResultFalse);
    EXPECT_EQ(list.getBinary("missing", data, size), kResultFalse);
    EXPECT_EQ(integer, 17);
    EXPECT_EQ(number, 1.5);
    EXPECT_EQ(text[0], 'a');
    EXPECT_EQ(data, &integer);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(list.getInt(nullptr, integer), kResultFalse);
    EXPECT_EQ(list.setInt(nullptr, 1), kInvalidArgument);
}

TEST(HostMessage, KeepsItsIDAndOneAttributeList)
{
    auto* message = new HostMessage();
    message->setMessageID("Levels");
    message->setMessageID(nullptr);
    EXPECT_STREQ(message->getMessageID(), "");

    IAttributeList* attributes = message->getAttributes();
    ASSERT_NE(attributes, nullptr);
    EXPECT_EQ(message->getAttributes(), attributes);
    EXPECT_EQ(attributes->setInt("peak", 3), kResultOk);

    void* answer = nullptr;
    ASSERT_EQ(message->queryInterface(IMessage::iid, &answer), kResultOk);
    EXPECT_EQ(answer, static_cast<IMessage*>(message));
    EXPECT_EQ(message->queryInterface(IAttributeList::iid, &answer), kNoInterface);
    ASSERT_EQ(attributes->queryInterface(IAttributeList::iid, &answer), kResultOk);
    EXPECT_EQ(attributes->queryInterface(IMessage::iid, &answer), kNoInterface);
    EXPECT_EQ(attributes->release(), 1u);
    EXPECT_EQ(message->release(), 1u);
    EXPECT_EQ(message->release(), 0u); // releases the list too: ASan reports a leak otherwise
}

TEST(HostMessage, AListOutlivesItsMessageWhileReferenced)
{
    auto* message = new HostMessage();
    IAttributeList* attributes = message->getAttributes();
    attributes->addRef();
    EXPECT_EQ(message->release(), 0u);
    EXPECT_EQ(attributes->setFloat("x", 0.5), kResultOk);
    EXPECT_EQ(attributes->release(), 0u);
}

} // namespace
} // namespace kelaudiofilterhost::vst3
