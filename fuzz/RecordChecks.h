#pragma once

// What every fuzz target checks about one MFT record, whichever way the record was reached.
// The checks hold for any bytes at all, because a deleted file's record can hold anything.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "ntfs/MftRecord.h"
#include "volume/LeReader.h"

namespace orv::fuzz {

// Stops the run loudly: assert() would vanish in a release replay build.
inline void require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// Reads UTF-8 back into UTF-16 code units. False when the text is not well-formed UTF-8, holds a
// surrogate, an overlong form or a code point beyond U+10FFFF.
inline bool utf8ToUtf16(const std::string& text, std::u16string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        char32_t c = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            c = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            c = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            c = lead & 0x07;
        } else {
            return false;
        }
        if (extra > text.size() - i - 1)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (next & 0x3F);
        }
        static constexpr char32_t kSmallestOf[] = {0, 0x80, 0x800, 0x10000};
        if (c < kSmallestOf[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += 1 + extra;
    }
    return true;
}

// A name shown to the user must be valid UTF-8 and, where the stored name was valid UTF-16,
// must say exactly what was stored; unpaired surrogates show as U+FFFD, one per code unit.
inline void checkNameText(const std::u16string& name)
{
    const std::string text = toUtf8(name);
    std::u16string back;
    require(utf8ToUtf16(text, back), "toUtf8 gave malformed UTF-8");
    std::u16string expected;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
            expected += unit;
            expected += name[++i];
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            expected += u'\xFFFD';
        } else {
            expected += unit;
        }
    }
    require(back == expected, "toUtf8 changed the name");
}

// A scan session reuses one TMFTFile for every record, so a decode must not depend on what the
// previous record left in it.
inline TMFTFile usedTMFTFile()
{
    TMFTFile file;
    file.Resident = true;
    file.ResidentLength = 12345;
    file.FSize = -1;
    file.ResidentBuf.assign(7, 0xEE);
    file.ClusterList = {{1, 2}, {3, 4}};
    return file;
}

inline void checkDecoded(std::span<const std::uint8_t> record, RecordStatus status, const TMFTFile& file)
{
    if (status != RecordStatus::Ok) {
        require(file.ClusterList.empty() && !file.Resident, "a corrupt record left a half-decoded file");
        return;
    }
    if (file.Resident) {
        require(file.ResidentLength == static_cast<std::int64_t>(file.ResidentBuf.size()),
                "ResidentLength differs from the bytes kept");
        require(file.FSize == file.ResidentLength, "a resident file's size differs from its content");
        require(file.ResidentBuf.size() <= record.size(), "resident content larger than its record");
        require(file.ClusterList.empty(), "a resident file has runs");
    } else {
        require(file.FSize >= 0, "negative file size");
        require(file.ResidentLength == 0, "a non-resident file has a resident length");
        // Each run takes a header byte and at least one byte each for length and offset.
        require(file.ClusterList.size() <= record.size() / 3, "more runs than the record can hold");
        for (const DataRun& run : file.ClusterList)
            require(run.length >= 0, "run with a negative length");
    }
}

inline bool sameDecode(RecordStatus a, const TMFTFile& x, RecordStatus b, const TMFTFile& y)
{
    if (a != b || x.Resident != y.Resident || x.ResidentLength != y.ResidentLength || x.FSize != y.FSize ||
        x.ClusterList != y.ClusterList)
        return false;
    return !x.Resident || x.ResidentBuf == y.ResidentBuf;
}

// Runs the record through everything the scan and the restore do with it: fixups, the attribute
// survey, the name, parent and creation time read at the surveyed places, and the decode.
inline void checkRecord(std::span<std::uint8_t> record)
{
    // As the whole-volume sweep meets it, protected: a sound record has every stride end ready
    // for the fixups, and a shorter view of it is never taken for one.
    if (isSoundRecord(record, record.size())) {
        const std::size_t usa = *LeReader(record).u16(mft::kUsaOffset);
        require(record[record.size() - 2] == record[usa] && record[record.size() - 1] == record[usa + 1],
                "a sound record's last stride does not end in its sequence number");
        require(!isSoundRecord(record.first(record.size() - 1), record.size()), "a cut record taken for sound");
    }
    ApplyRecordFixups(record);
    const std::vector<std::uint8_t> fixedOnce(record.begin(), record.end());
    ApplyRecordFixups(record);
    require(std::equal(record.begin(), record.end(), fixedOnce.begin(), fixedOnce.end()),
            "fixups applied twice changed the record");

    if (const auto survey = SurveyAttributes(record)) {
        const LeReader r(record);
        for (const std::size_t pos :
             {survey->StandardInformation, survey->FileName, survey->Data, survey->IndexRoot, survey->IndexAllocation})
            require(pos == 0 || r.has(pos + attr::kLength, 2), "survey points at a header outside the record");
        if (survey->Data != 0)
            require(r.u8(survey->Data + attr::kType) == attr::kData &&
                        r.u8(survey->Data + attr::kNameLength) == std::uint8_t{0},
                    "survey's Data is not an unnamed $DATA");
        if (survey->FileName != 0) {
            const auto name = readFileName(record, survey->FileName);
            if (name) {
                require(r.has(survey->FileName + content::kName, 2 * name->size()), "name read past the record");
                checkNameText(*name);
            }
            if (const auto parent = readParentRecord(record, survey->FileName))
                require(*parent >= 0 && *parent < (std::int64_t{1} << 48), "parent wider than 48 bits");
        }
        if (survey->StandardInformation != 0)
            (void)readCreationDateTime(record, survey->StandardInformation);
    }

    TMFTFile first;
    const RecordStatus firstStatus = decodeRecord(record, first);
    checkDecoded(record, firstStatus, first);
    require(std::equal(record.begin(), record.end(), fixedOnce.begin(), fixedOnce.end()),
            "decodeRecord changed a record that was already fixed up");

    TMFTFile second = usedTMFTFile();
    const RecordStatus secondStatus = decodeRecord(record, second);
    require(sameDecode(firstStatus, first, secondStatus, second),
            "a second decode of the same record gave a different file");
}

} // namespace orv::fuzz
