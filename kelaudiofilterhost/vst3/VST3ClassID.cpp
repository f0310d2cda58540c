// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3ClassID.h"

#include <iomanip>
#include <ios>
#include <locale>
#include <sstream>

namespace kelaudiofilterhost::vst3 {
namespace {

using Words = std::array<std::uint32_t, 4>;

std::uint32_t Word(const VST3ClassID& id, int a, int b, int c, int d)
{
    return (std::uint32_t{id[a]} << 24) | (std::uint32_t{id[b]} << 16) | (std::uint32_t{id[c]} << 8) |
           std::uint32_t{id[d]};
}

void PutWord(VST3ClassID& id, std::uint32_t word, int a, int b, int c, int d)
{
    id[a] = static_cast<std::uint8_t>(word >> 24);
    id[b] = static_cast<std::uint8_t>(word >> 16);
    id[c] = static_cast<std::uint8_t>(word >> 8);
    id[d] = static_cast<std::uint8_t>(word);
}

// The word layout reads a GUID-layout class ID as Data1, Data2:Data3 and the two halves of Data4.
Words ToWords(const VST3ClassID& id)
{
    return {Word(id, 3, 2, 1, 0), Word(id, 5, 4, 7, 6), Word(id, 8, 9, 10, 11), Word(id, 12, 13, 14, 15)};
}

VST3ClassID FromWords(const Words& words)
{
    VST3ClassID id{};
    PutWord(id, words[0], 3, 2, 1, 0);
    PutWord(id, words[1], 5, 4, 7, 6);
    PutWord(id, words[2], 8, 9, 10, 11);
    PutWord(id, words[3], 12, 13, 14, 15);
    return id;
}

} // namespace

VST3ClassID ClassIDFromTUID(const Steinberg::TUID tuid)
{
    VST3ClassID id{};
    for (std::size_t i = 0; i < id.size(); ++i)
        id[i] = static_cast<std::uint8_t>(tuid[i]);
    return id;
}

void ClassIDToTUID(const VST3ClassID& classID, Steinberg::TUID tuid)
{
    for (std::size_t i = 0; i < classID.size(); ++i)
        tuid[i] = static_cast<Steinberg::int8>(classID[i]);
}

UTF16String FormatVST3ClassID(const VST3ClassID& classID)
{
    const Words words = ToWords(classID);
    std::ostringstream out;
    out.imbue(std::locale::classic());
    // The field width is consumed by the first number; the other words keep no leading zeros.
    out << std::hex << std::setfill('0') << std::setw(8) << words[0] << ' ' << words[1] << ' ' << words[2]
        << ' ' << words[3];
    return kelcore::UTF8to16(out.str());
}

UTF16String MakeVST3ComponentID(const VST3ClassID& classID)
{
    return u"3:" + FormatVST3ClassID(classID);
}

VST3ClassID ParseVST3ComponentID(const UTF16String& componentID)
{
    UTF16String text = componentID;
    if (text.size() > 2 && text[1] == u':')
        text.erase(0, 2);

    // Characters outside ASCII become bytes that are neither space nor digit, so they stop the read.
    std::istringstream in(kelcore::UTF16to8(text));
    in.imbue(std::locale::classic());
    in >> std::hex;
    Words words{};
    for (std::uint32_t& word : words) {
        std::uint32_t value = 0;
        // An overflowing number fails the read too; it must not leave the stream's saturated value.
        if (!(in >> value))
            break;
        word = value;
    }
    return FromWords(words);
}

} // namespace kelaudiofilterhost::vst3
