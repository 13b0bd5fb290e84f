// scan: the deleted files of a volume, as the results window lists them.

#include <iostream>

#include "base/Utf16.h"
#include "cli/Command.h"
#include "cli/Output.h"
#include "cli/Scanning.h"
#include "results/FileSystem.h"
#include "scan/ListedFileFacts.h"
#include "volume/FileTime.h"

namespace orv::cli {

namespace {

// The creation times of listed files in ISO form, made once per second of time: files written
// together share them, and the conversion to local time is the costly part.
class IsoTimes
{
public:
    // Empty for a time the calendar cannot show.
    const std::string& text(std::uint64_t fileTime)
    {
        if (fileTime / 10'000'000 != m_second) {
            m_second = fileTime / 10'000'000;
            const auto local = fileTimeToLocal(fileTime);
            m_text = local ? isoText(*local) : std::string();
        }
        return m_text;
    }

private:
    std::uint64_t m_second = ~std::uint64_t{0};
    std::string m_text;
};

class ScanCommand final : public Command
{
public:
    explicit ScanCommand(CLI::App& app) : Command(app.add_subcommand("scan", "list the deleted files of a volume"))
    {
        addSourceOptions(parser(), m_options.source);
        CLI::Option* extended = parser().add_flag("--extended", m_options.extended,
                                                  "deep scan: also finds the files of earlier file systems");
        parser()
            .add_flag("--sweep", m_options.sweep,
                      "with --extended: read the whole volume, not probes of it (slower, misses no MFT fragment)")
            ->needs(extended);
        parser().add_flag("--no-shadow-copies", m_options.noShadowCopies,
                          "leave out the files only the volume's shadow copies hold");
        parser().add_option("--mask", m_options.mask, "file name mask, e.g. *.jpg (default *.*)");
        parser().add_flag("--quiet", m_options.quiet, "no progress line and no notes on stderr");
    }

    int run(LinuxDriveSystem& drives) override
    {
        ScanSession session;
        // Every file's creation time, residency and grade are taken while the scan reads its record.
        session.keepListedRecords = m_options.source.json;
        ScanEnd end = ScanEnd::Finished;
        if (const int status = scanVolume(drives, m_options, session, !m_options.source.json, &end);
            status != kExitDone)
            return status;
        // A stopped scan lists what it found until then, but it did not do what was asked: a script
        // must not take the listing for the volume's whole.
        const bool stopped = end == ScanEnd::Stopped;
        const int status = stopped ? kExitFailed : kExitDone;
        Output out;
        if (m_options.source.json) {
            printJson(session, out, stopped);
            if (session.store.entryCount() == 0)
                std::cerr << kNotFound << '\n';
            return status;
        }
        if (session.store.entryCount() == 0) {
            out << kNotFound << "\n";
            return status;
        }
        std::int64_t listed = 0;
        forEachListedFile(session.store,
                          [&](std::u16string_view section, std::u16string_view key, const StoredFile& stored) {
                              out << printable(section) << printable(key) << "\t" << stored.size << "\t"
                                  << toUtf8(stored.date) << " " << toUtf8(stored.time) << "\n";
                              ++listed;
                          });
        out << listed << " deleted file(s) found.\n";
        return status;
    }

private:
    void printJson(ScanSession& session, Output& out, bool stopped) const
    {
        JsonWriter json(out);
        json.beginObject();
        json.key("drive").string(session.volume.Drive);
        json.key("mode").string(m_options.extended ? "extended" : "normal");
        if (m_options.extended)
            json.key("sweep").boolean(m_options.sweep);
        json.key("mask").string(toUtf8(session.FileMask));
        json.key("records_examined").number(session.RecordsExamined);
        // The files listed below: a name found twice in one folder is listed once.
        json.key("files_found").number(static_cast<std::int64_t>(session.store.entryCount()));
        // Only a stopped scan says so: a finished one keeps the members it always had.
        if (stopped)
            json.key("stopped").boolean(true);
        json.key("files").beginArray();
        IsoTimes isoTimes;
        FileSystem& fileSystem = fileSystemOf(session);
        // The files of a folder follow one another: its name is made JSON once for them all.
        std::u16string_view folder;
        std::string folderJson;
        forEachListedFile(
            session.store, [&](std::u16string_view section, std::u16string_view key, const StoredFile& stored) {
                // What the scan kept of the file, or else what its file system reads again.
                std::optional<ListedFileFacts> facts;
                Grade grade = Grade::None;
                if (stored.locator) {
                    facts = fileSystem.facts(session, *stored.locator);
                    grade = fileSystem.grade(session, *stored.locator, key);
                }
                std::string created;
                if (facts && facts->creationTime)
                    created = isoTimes.text(*facts->creationTime);

                json.beginObject(JsonWriter::Layout::Inline);
                if (section.data() != folder.data() || section.size() != folder.size()) {
                    folder = section;
                    folderJson.clear();
                    Output::appendString(folderJson, section);
                }
                json.key("folder").json(folderJson);
                json.key("name").string(key);
                json.key("record_offset").numberOrNull(stored.recordOffset);
                if (stored.locator && stored.locator->kind == FileLocator::Kind::DirectoryEntry &&
                    static_cast<std::uint64_t>(stored.locator->value) < session.listedEntries.size()) {
                    // Where the file's directory entries begin on the volume.
                    const FoundEntry& entry = session.listedEntries[static_cast<std::size_t>(stored.locator->value)];
                    json.key("entry_offset")
                        .numberOrNull(entry.pieces.empty()
                                          ? std::nullopt
                                          : std::optional(static_cast<std::int64_t>(entry.pieces.front().position)));
                }
                json.key("date").string(std::u16string_view(stored.date));
                json.key("time").string(std::u16string_view(stored.time));
                json.key("created").stringOrNull(created.empty() ? std::nullopt : std::optional(created));
                json.key("size").number(stored.size);
                json.key("resident").boolean(facts && facts->hasData && facts->resident);
                json.key("recoverability").string(gradeKey(grade));
                // The named streams beside its content (NTFS), when it has any.
                if (stored.locator)
                    if (const auto streams = fileSystem.streams(session, *stored.locator); !streams.empty()) {
                        json.key("streams").beginArray(JsonWriter::Layout::Inline);
                        for (const NamedStream& stream : streams) {
                            json.beginObject(JsonWriter::Layout::Inline);
                            json.key("name").string(std::u16string_view(stream.name));
                            json.key("size").number(stream.size);
                            json.endObject();
                        }
                        json.endArray();
                    }
                // A file that came out of the emptied Recycle Bin: when it was put there and the
                // full path it had before, as its $I file says.
                if (stored.recordOffset)
                    if (const auto it = session.recycledFiles.find(*stored.recordOffset);
                        it != session.recycledFiles.end()) {
                        const auto local = fileTimeToLocal(it->second.deletedTime);
                        json.key("recycle_bin").beginObject(JsonWriter::Layout::Inline);
                        json.key("deleted").stringOrNull(local ? std::optional(isoText(*local)) : std::nullopt);
                        json.key("original").string(std::u16string_view(it->second.originalPath));
                        json.endObject();
                    }
                if (stored.locator && stored.locator->kind == FileLocator::Kind::ShadowCopyRecord)
                    json.key("shadow_copy").number(std::int64_t{shadowCopyOf(*stored.locator)});
                // A file whose record is gone, found by its content in the whole-disc scan: its size
                // is where its format's parser found its end.
                if (stored.locator && stored.locator->kind == FileLocator::Kind::FoundByContent)
                    json.key("found_by_content").boolean(true);
                if (m_options.extended) {
                    // The cluster size the file's runs are read with: the volume's for a record of the
                    // $MFT in use now, an earlier file system's as its records tell it, or null where
                    // they do not (its runs are then read with the volume's).
                    std::optional<std::int64_t> clusterSize = session.volume.BytesPerCluster;
                    if (stored.recordOffset)
                        if (const auto earlier = earlierClusterSize(session.volume, *stored.recordOffset))
                            clusterSize = *earlier > 0 ? earlier : std::nullopt;
                    json.key("earlier_cluster_size").numberOrNull(clusterSize);
                }
                json.endObject();
            });
        json.endArray();
        json.endObject();
        out << "\n";
    }

    ScanOptions m_options;
};

} // namespace

std::unique_ptr<Command> addScanCommand(CLI::App& app)
{
    return std::make_unique<ScanCommand>(app);
}

} // namespace orv::cli
