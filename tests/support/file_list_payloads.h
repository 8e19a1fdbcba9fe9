#pragma once
// Builds the replies that fill the file list: a browse listing and a search answer block.

#include <string>
#include <vector>

#include "discovery/host_record.h"
#include "store/listing_record.h"
#include "store/share_index_records.h"

namespace vandry::testing {

inline HostRecord fileHost(const std::string& nickname, std::uint8_t tag)
{
    HostRecord host;
    host.identity.fill(tag);
    host.setNickname(nickname);
    return host;
}

inline ListingRecord listingFile(const std::string& name, std::uint64_t size, std::uint8_t mark = 0)
{
    ListingRecord record;
    record.type = kKindFile;
    record.mark = mark;
    record.size = size;
    record.name = name;
    return record;
}

inline ListingRecord listingFolder(const std::string& name, std::uint8_t mark = 0)
{
    ListingRecord record = listingFile(name, 0, mark);
    record.type = kKindFolder;
    return record;
}

inline std::vector<std::uint8_t> browseReply(std::int32_t row, const HostRecord& host, const std::string& path,
                                             const std::vector<ListingRecord>& records)
{
    std::vector<std::uint8_t> out;
    ByteWriter w(out);
    w.u16le(static_cast<std::uint16_t>(69 + path.size()));
    w.u8(1);
    w.u8(0);
    w.u32le(static_cast<std::uint32_t>(row));
    encodeHostRecord(host, w);
    w.bytes(asBytes(path));
    w.u8(0);
    for (const ListingRecord& record : records)
        encodeListingRecord(record, w);
    return out;
}

struct AnswerFolderSpec {
    std::string name;
    int parent = -1; // index into the folder list
    std::uint8_t fileCount = 0;
    std::uint8_t mark = kMarkAncestor;
};

struct AnswerFileSpec {
    std::string name;
    int parent = 0; // index into the folder list
    std::uint32_t size = 0;
};

// "|" and the name padded with spaces to `minimum`.
inline std::string answerEntry(const std::string& name, std::size_t minimum)
{
    std::string entry = "|" + name;
    if (name.size() < minimum)
        entry.append(minimum - name.size(), ' ');
    return entry;
}

inline std::vector<std::uint8_t> searchAnswer(std::uint8_t baseLength, const HostRecord& host,
                                              const std::vector<AnswerFolderSpec>& folders,
                                              const std::vector<AnswerFileSpec>& files)
{
    std::string folderNames, fileNames;
    std::vector<std::size_t> folderAt;
    for (const auto& folder : folders) {
        folderAt.push_back(folderNames.size());
        folderNames += answerEntry(folder.name, kMinFolderName);
    }
    std::vector<std::size_t> fileAt;
    for (const auto& file : files) {
        fileAt.push_back(fileNames.size());
        fileNames += answerEntry(file.name, kMinFileName);
    }
    std::vector<std::uint8_t> folderRecords(folderNames.size()), fileRecords(fileNames.size());
    for (std::size_t i = 0; i < folders.size(); ++i) {
        const std::size_t next = i + 1 < folders.size() ? folderAt[i + 1] : folderNames.size();
        const std::uint32_t parent =
            folders[i].parent < 0 ? kNoParentFolder : static_cast<std::uint32_t>(folderAt[folders[i].parent]);
        writeFolderRecord(
            folderRecords, folderAt[i],
            {static_cast<std::uint8_t>(next - folderAt[i]), parent, folders[i].fileCount, folders[i].mark});
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::size_t next = i + 1 < files.size() ? fileAt[i + 1] : fileNames.size();
        writeFileRecord(fileRecords, fileAt[i],
                        {static_cast<std::uint8_t>(next - fileAt[i]),
                         static_cast<std::uint32_t>(folderAt[files[i].parent]), files[i].size});
    }
    std::vector<std::uint8_t> out;
    ByteWriter w(out);
    w.u16le(68);
    w.u8(0);
    w.u8(baseLength);
    w.u16le(static_cast<std::uint16_t>(fileNames.size()));
    w.u16le(static_cast<std::uint16_t>(folderNames.size()));
    encodeHostRecord(host, w);
    for (const auto& area :
         {asBytes(fileNames), ByteSpan(fileRecords), asBytes(folderNames), ByteSpan(folderRecords)}) {
        w.bytes(area);
        w.zeros(2);
    }
    return out;
}

} // namespace vandry::testing
