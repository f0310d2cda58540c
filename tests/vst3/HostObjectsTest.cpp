// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/ParameterChanges.h"
#include "kelaudiofilterhost/vst3/VST3EventList.h"
#include "kelaudiofilterhost/vst3/VST3MemoryStream.h"

#include "pluginterfaces/base/ipluginbase.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace kelaudiofilterhost::vst3 {
namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;

// Each object answers FUnknown and its own interface (with a reference), and nothing else.
template <class Object, class Interface>
void ExpectQueryInterface(Object* object)
{
    void* answer = nullptr;
    ASSERT_EQ(object->queryInterface(FUnknown::iid, &answer), kResultOk);
    EXPECT_EQ(answer, static_cast<Interface*>(object));
    ASSERT_EQ(object->queryInterface(Interface::iid, &answer), kResultOk);
    EXPECT_EQ(answer, static_cast<Interface*>(object));
    EXPECT_EQ(object->GetReferenceCount(), 3);
    answer = &answer;
    EXPECT_EQ(object->queryInterface(IPluginBase::iid, &answer), kNoInterface);
    EXPECT_EQ(answer, nullptr);
    EXPECT_EQ(object->release(), 2u);
    EXPECT_EQ(object->release(), 1u);
    EXPECT_EQ(object->addRef(), 2u);
    EXPECT_EQ(object->release(), 1u);
    EXPECT_EQ(object->release(), 0u); // freed here: ASan reports a leak or a double free otherwise
}

TEST(VST3HostObjects, CountReferencesAndAnswerOnlyTheirInterfaces)
{
    ExpectQueryInterface<VST3EventList, IEventList>(new VST3EventList(4));
    ExpectQueryInterface<VST3MemoryStream, IBStream>(new VST3MemoryStream());
    ExpectQueryInterface<ParameterValueQueue, IParamValueQueue>(new ParameterValueQueue());
    ExpectQueryInterface<ParameterChanges, IParameterChanges>(new ParameterChanges(3));
}

TEST(VST3EventList, HoldsUpToItsCapacityAndRefusesOutOfRangeIndices)
{
    VST3EventList list(2048);
    Event event{};
    for (int32 i = 0; i < 2048; ++i) {
        event.sampleOffset = i;
        ASSERT_EQ(list.addEvent(event), kResultOk) << i;
    }
    EXPECT_EQ(list.addEvent(event), kResultFalse);
    EXPECT_EQ(list.addEvent(event), kResultFalse);
    EXPECT_EQ(list.getEventCount(), 2048);
    EXPECT_EQ(list.TakeRefusalCount(), 2u);
    EXPECT_EQ(list.TakeRefusalCount(), 0u);

    Event read{};
    ASSERT_EQ(list.getEvent(2047, read), kResultOk);
    EXPECT_EQ(read.sampleOffset, 2047);
    read.sampleOffset = -7;
    EXPECT_EQ(list.getEvent(2048, read), kResultFalse);
    EXPECT_EQ(list.getEvent(-1, read), kResultFalse);
    EXPECT_EQ(read.sampleOffset, -7);

    list.Clear();
    EXPECT_EQ(list.getEventCount(), 0);
    EXPECT_EQ(list.getEvent(0, read), kResultFalse);
    EXPECT_EQ(list.addEvent(event), kResultOk);

    VST3EventList none(0);
    EXPECT_EQ(none.addEvent(event), kResultFalse);
}

struct StreamFixture {
    VST3MemoryStream stream;
    explicit StreamFixture(int32 size)
    {
        std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
        for (int32 i = 0; i < size; ++i) {
            bytes[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i + 1);
        }
        int32 written = -1;
        EXPECT_EQ(stream.write(bytes.data(), size, &written), kResultOk);
        EXPECT_EQ(written, size);
    }
    int64 Position()
    {
        int64 position = -1;
        EXPECT_EQ(stream.tell(&position), kResultOk);
        return position;
    }
};

TEST(VST3MemoryStream, ReadsStopAtTheEnd)
{
    StreamFixture f(10);
    ASSERT_EQ(f.stream.seek(8, IBStream::kIBSeekSet, nullptr), kResultOk);
    std::array<unsigned char, 4> buffer{};
    int32 read = -1;
    EXPECT_EQ(f.stream.read(buffer.data(), 4, &read), kResultOk);
    EXPECT_EQ(read, 2);
    EXPECT_EQ(buffer[0], 9);
    EXPECT_EQ(buffer[1], 10);
    EXPECT_EQ(f.Position(), 10);
    EXPECT_EQ(f.stream.read(buffer.data(), 4, &read), kResultOk);
    EXPECT_EQ(read, 0);

    // Past the end: nothing read, the position returns to the end.
    ASSERT_EQ(f.stream.seek(25, IBStream::kIBSeekSet, nullptr), kResultOk);
    EXPECT_EQ(f.stream.read(buffer.data(), 4, &read), kResultOk);
    EXPECT_EQ(read, 0);
    EXPECT_EQ(f.Position(), 10);
    EXPECT_EQ(f.stream.read(nullptr, 4, &read), kInvalidArgument);
}

TEST(VST3MemoryStream, WritesCutOrExtendTheStream)
{
    StreamFixture f(10);
    ASSERT_EQ(f.stream.seek(2, IBStream::kIBSeekSet, nullptr), kResultOk);
    unsigned char three[3] = {0xA, 0xB, 0xC};
    int32 written = -1;
    EXPECT_EQ(f.stream.write(three, 3, &written), kResultOk);
    EXPECT_EQ(written, 3);
    ASSERT_EQ(f.stream.GetSize(), 5u);
    EXPECT_EQ(std::memcmp(f.stream.GetData(), "\x01\x02\x0A\x0B\x0C", 5), 0);
    EXPECT_EQ(f.Position(), 5);

    // A write past the end fills the gap with zeros.
    ASSERT_EQ(f.stream.seek(7, IBStream::kIBSeekSet, nullptr), kResultOk);
    EXPECT_EQ(f.stream.write(three, 1, nullptr), kResultOk);
    ASSERT_EQ(f.stream.GetSize(), 8u);
    EXPECT_EQ(std::memcmp(f.stream.GetData() + 5, "\x00\x00\x0A", 3), 0);

    EXPECT_EQ(f.stream.write(nullptr, 3, &written), kInvalidArgument);
    written = -1;
    EXPECT_EQ(f.stream.write(three, 0, &written), kResultOk);
    EXPECT_EQ(written, 0);

    f.stream.SetSize(0);
    EXPECT_EQ(f.stream.GetSize(), 0u);
    EXPECT_EQ(f.Position(), 8);
}

TEST(VST3MemoryStream, SeeksFromEachOriginAndRefusesPositionsOutsideTheStreamRange)
{
    struct Case {
        int64 offset;
        int32 mode;
        tresult result;
        int64 position;
    } cases[] = {
        {-2, IBStream::kIBSeekEnd, kResultOk, 8},
        {3, IBStream::kIBSeekSet, kResultOk, 3},
        {4, IBStream::kIBSeekCur, kResultOk, 8}, // from 4
        {-4, IBStream::kIBSeekCur, kResultOk, 0},
        {-5, IBStream::kIBSeekCur, kInvalidArgument, 4},
        {1000, 3, kResultOk, 4},        // unknown mode leaves the position
        {-1, IBStream::kIBSeekSet, kInvalidArgument, 4},
        {-11, IBStream::kIBSeekEnd, kInvalidArgument, 4},
        {int64{1} << 31, IBStream::kIBSeekSet, kInvalidArgument, 4},
        {INT64_MIN, IBStream::kIBSeekCur, kInvalidArgument, 4},
        {INT64_MAX, IBStream::kIBSeekEnd, kInvalidArgument, 4},
        {100, IBStream::kIBSeekSet, kResultOk, 100}, // not limited to the data
    };
    for (const Case& c : cases) {
        StreamFixture f(10);
        ASSERT_EQ(f.stream.seek(4, IBStream::kIBSeekSet, nullptr), kResultOk);
        int64 result = -1;
        EXPECT_EQ(f.stream.seek(c.offset, c.mode, &result), c.result) << c.offset << " mode " << c.mode;
        EXPECT_EQ(f.Position(), c.position) << c.offset << " mode " << c.mode;
        if (c.result == kResultOk) {
            EXPECT_EQ(result, c.position);
        }
    }
    VST3MemoryStream stream;
    EXPECT_EQ(stream.tell(nullptr), kInvalidArgument);
}

TEST(ParameterValueQueue, KeepsPointsSortedAndOneAtEachOffset)
{
    ParameterValueQueue queue;
    EXPECT_EQ(queue.getParameterId(), kNoParameterID);
    int32 index = -1;
    EXPECT_EQ(queue.addPoint(10, 0.1, index), kResultOk);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(queue.addPoint(0, 0.2, index), kResultOk);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(queue.addPoint(10, 0.5, index), kResultOk);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(queue.addPoint(20, 0.7, index), kResultOk);
    EXPECT_EQ(index, 2);
    ASSERT_EQ(queue.getPointCount(), 3);
    int32 offset = -1;
    ParamValue value = -1;
    const std::pair<int32, double> expected[] = {{0, 0.2}, {10, 0.5}, {20, 0.7}};
    for (int32 i = 0; i < 3; ++i) {
        ASSERT_EQ(queue.getPoint(i, offset, value), kResultOk);
        EXPECT_EQ(offset, expected[i].first);
        EXPECT_EQ(value, expected[i].second);
    }
    offset = -9;
    EXPECT_EQ(queue.getPoint(3, offset, value), kResultFalse);
    EXPECT_EQ(queue.getPoint(-1, offset, value), kResultFalse);
    EXPECT_EQ(offset, -9);
}

TEST(ParameterValueQueue, AFullQueueRefusesNewOffsetsButStillReplacesValues)
{
    ParameterValueQueue queue(3);
    int32 index = -1;
    for (int32 offset : {4, 8, 12}) {
        ASSERT_EQ(queue.addPoint(offset, 0.0, index), kResultOk);
    }
    index = -1;
    EXPECT_EQ(queue.addPoint(6, 1.0, index), kResultFalse);
    EXPECT_EQ(queue.addPoint(99, 1.0, index), kResultFalse);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(queue.addPoint(8, 1.0, index), kResultOk);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(queue.getPointCount(), 3);
    EXPECT_EQ(queue.TakeRefusalCount(), 2u);
}

TEST(ParameterChanges, ReusesQueuesAndRefusesParametersBeyondItsPool)
{
    ParameterChanges changes;
    changes.Reserve(2, 4);
    int32 index = -1;
    IParamValueQueue* first = changes.addParameterData(7, index);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(changes.addParameterData(7, index), first);
    EXPECT_EQ(index, 0);
    IParamValueQueue* second = changes.addParameterData(9, index);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(changes.addParameterData(11, index), nullptr); // pool exhausted
    EXPECT_EQ(changes.getParameterCount(), 2);
    EXPECT_EQ(changes.getParameterData(1), second);
    EXPECT_EQ(changes.getParameterData(2), nullptr);
    EXPECT_EQ(changes.getParameterData(-1), nullptr);

    int32 pointIndex = 0;
    ASSERT_EQ(first->addPoint(0, 0.5, pointIndex), kResultOk);
    changes.Clear();
    EXPECT_EQ(changes.getParameterData(0), nullptr);
    EXPECT_EQ(changes.addParameterData(3, index), first); // the first queue, emptied, for the new ID
    EXPECT_EQ(first->getParameterId(), 3u);
    EXPECT_EQ(first->getPointCount(), 0);

    // Refused points of every queue count too, and are taken once.
    for (int32 i = 0; i < 5; ++i) {
        first->addPoint(i, 0.0, pointIndex);
    }
    EXPECT_EQ(changes.TraceRefusals("test"), 2u);
    EXPECT_EQ(changes.TakeRefusalCount(), 0u);
}

TEST(ParameterChanges, SetMaxParametersGrowsAndShrinksThePool)
{
    ParameterChanges changes(1);
    int32 index = -1;
    changes.SetMaxParameters(3);
    EXPECT_EQ(changes.GetQueueCount(), 3);
    for (ParamID id : {1u, 2u, 3u}) {
        ASSERT_NE(changes.addParameterData(id, index), nullptr);
    }
    changes.SetMaxParameters(-1);
    EXPECT_EQ(changes.GetQueueCount(), 3);
    changes.SetMaxParameters(1); // the released queues are freed: ASan checks
    EXPECT_EQ(changes.GetQueueCount(), 1);
    EXPECT_EQ(changes.getParameterCount(), 1);
    EXPECT_EQ(changes.addParameterData(2, index), nullptr);
    EXPECT_EQ(changes.TakeRefusalCount(), 1u);

    // A plug-in holding a reference to a queue keeps it alive past the pool.
    IParamValueQueue* held = changes.getParameterData(0);
    held->addRef();
    changes.SetMaxParameters(0);
    EXPECT_EQ(held->getParameterId(), 1u);
    EXPECT_EQ(held->release(), 0u);
}

} // namespace
} // namespace kelaudiofilterhost::vst3
