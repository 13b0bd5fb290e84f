// scan: the deleted files of a volume, as the results window lists them.

#include <iostream>
#include <memory>
#include <mutex>

#include "base/Utf16.h"
#include "cli/Command.h"
#include "cli/Output.h"
#include "cli/Scanning.h"
#include "results/FileSystem.h"
#include "scan/ListedFileFacts.h"
#include "scan/PieceWalkers.h"
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

// The "files" of the JSON listing, made in parts on every core: once the scan keeps
// what the listing shows, turning it into text is most of the listing's time. What the file system
// tells of a file is asked under one lock (its readers are not made for several threads); the text
// is made apart, and the parts are written in the listing's order, so the output is the same as one
// thread's.
constexpr std::size_t kFilesPerPart = 4096;

class JsonParts
{
public:
    struct Shared
    {
        ScanSession& session;
        FileSystem& fileSystem;
        bool extended;
        const JsonWriter& files; // standing inside the "files" array
        std::vector<ResultsStore::Place> starts; // where each part begins, then the end
        std::mutex lock;
    };
    struct Findings
    {
        std::string text;
        std::int64_t files = 0;
    };

    explicit JsonParts(Shared& shared) : m_shared(shared) {}

    void examine(std::int64_t part, Findings& made)
    {
        Output kept(Output::Kept::InText);
        kept.text().swap(made.text);
        kept.text().clear();
        made.files = 0;
        // The folder's name is made JSON once for all its files of the part.
        m_folder = {};
        JsonWriter json(kept, m_shared.files, 1);
        const auto index = static_cast<std::size_t>(part);
        forEachListedFileBetween(m_shared.session.store, m_shared.starts[index], m_shared.starts[index + 1],
                                 [&](std::u16string_view section, std::u16string_view key, const StoredFile& stored) {
                                     write(json, section, key, stored);
                                     ++made.files;
                                 });
        made.text.swap(kept.text());
    }

private:
    // What the listing shows of a file beyond the store's texts.
    struct Shown
    {
        std::optional<ListedFileFacts> facts;
        Grade grade = Grade::None;
        std::optional<std::int64_t> entryOffset;
        bool directoryEntry = false;
        std::vector<NamedStream> streams;
        std::optional<RecycledFile> recycled;
        std::optional<std::int64_t> clusterSize;
    };

    void ask(std::u16string_view key, const StoredFile& stored, Shown& shown)
    {
        ScanSession& session = m_shared.session;
        shown.facts.reset();
        shown.grade = Grade::None;
        shown.entryOffset.reset();
        shown.directoryEntry = false;
        shown.streams.clear();
        shown.recycled.reset();
        shown.clusterSize.reset();
        const std::lock_guard lock(m_shared.lock);
        // What the scan kept of the file, or else what its file system reads again.
        if (stored.locator) {
            shown.facts = m_shared.fileSystem.facts(session, *stored.locator);
            shown.grade = m_shared.fileSystem.grade(session, *stored.locator, key);
            shown.streams = m_shared.fileSystem.streams(session, *stored.locator);
        }
        if (stored.locator && stored.locator->kind == FileLocator::Kind::DirectoryEntry &&
            static_cast<std::uint64_t>(stored.locator->value) < session.listedEntries.size()) {
            shown.directoryEntry = true;
            const FoundEntry& entry = session.listedEntries[static_cast<std::size_t>(stored.locator->value)];
            if (!entry.pieces.empty())
                shown.entryOffset = static_cast<std::int64_t>(entry.pieces.front().position);
        }
        if (stored.recordOffset)
            if (const auto it = session.recycledFiles.find(*stored.recordOffset); it != session.recycledFiles.end())
                shown.recycled = it->second;
        if (m_shared.extended) {
            // The cluster size the file's runs are read with: the volume's for a record of the
            // $MFT in use now, an earlier file system's as its records tell it, or null where
            // they do not (its runs are then read with the volume's).
            shown.clusterSize = session.volume.BytesPerCluster;
            if (stored.recordOffset)
                if (const auto earlier = earlierClusterSize(session.volume, *stored.recordOffset))
                    shown.clusterSize = *earlier > 0 ? earlier : std::nullopt;
        }
    }

    void write(JsonWriter& json, std::u16string_view section, std::u16string_view key, const StoredFile& stored)
    {
        ask(key, stored, m_shown);
        const Shown& shown = m_shown;
        std::string created;
        if (shown.facts && shown.facts->creationTime)
            created = m_isoTimes.text(*shown.facts->creationTime);

        json.beginObject(JsonWriter::Layout::Inline);
        if (section.data() != m_folder.data() || section.size() != m_folder.size()) {
            m_folder = section;
            m_folderJson.clear();
            Output::appendString(m_folderJson, section);
        }
        json.key("folder").json(m_folderJson);
        json.key("name").string(key);
        json.key("record_offset").numberOrNull(stored.recordOffset);
        // Where the file's directory entries begin on the volume.
        if (shown.directoryEntry)
            json.key("entry_offset").numberOrNull(shown.entryOffset);
        json.key("date").string(std::u16string_view(stored.date));
        json.key("time").string(std::u16string_view(stored.time));
        json.key("created").stringOrNull(created.empty() ? std::nullopt : std::optional(created));
        json.key("size").number(stored.size);
        json.key("resident").boolean(shown.facts && shown.facts->hasData && shown.facts->resident);
        json.key("recoverability").string(gradeKey(shown.grade));
        // The named streams beside its content (NTFS), when it has any.
        if (!shown.streams.empty()) {
            json.key("streams").beginArray(JsonWriter::Layout::Inline);
            for (const NamedStream& stream : shown.streams) {
                json.beginObject(JsonWriter::Layout::Inline);
                json.key("name").string(std::u16string_view(stream.name));
                json.key("size").number(stream.size);
                json.endObject();
            }
            json.endArray();
        }
        // A file that came out of the emptied Recycle Bin: when it was put there and the full path
        // it had before, as its $I file says.
        if (shown.recycled) {
            const auto local = fileTimeToLocal(shown.recycled->deletedTime);
            json.key("recycle_bin").beginObject(JsonWriter::Layout::Inline);
            json.key("deleted").stringOrNull(local ? std::optional(isoText(*local)) : std::nullopt);
            json.key("original").string(std::u16string_view(shown.recycled->originalPath));
            json.endObject();
        }
        if (stored.locator && stored.locator->kind == FileLocator::Kind::ShadowCopyRecord)
            json.key("shadow_copy").number(std::int64_t{shadowCopyOf(*stored.locator)});
        // A file whose record is gone, found by its content in the whole-disc scan: its size is
        // where its format's parser found its end.
        if (stored.locator && stored.locator->kind == FileLocator::Kind::FoundByContent)
            json.key("found_by_content").boolean(true);
        if (m_shared.extended)
            json.key("earlier_cluster_size").numberOrNull(shown.clusterSize);
        json.endObject();
    }

    Shared& m_shared;
    Shown m_shown;
    IsoTimes m_isoTimes;
    std::u16string_view m_folder;
    std::string m_folderJson;
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
        // The files of a folder follow one another: its name is made printable once for them all.
        std::u16string_view folder;
        std::string folderText;
        forEachListedFile(session.store,
                          [&](std::u16string_view section, std::u16string_view key, const StoredFile& stored) {
                              if (section.data() != folder.data() || section.size() != folder.size()) {
                                  folder = section;
                                  folderText = printable(section);
                              }
                              out << folderText << printable(key) << "\t" << stored.size << "\t" << toUtf8(stored.date)
                                  << " " << toUtf8(stored.time) << "\n";
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
        {
            JsonParts::Shared shared{session, fileSystemOf(session), m_options.extended, json, {}, {}};
            // Parts of some thousands of files each, a folder of more cut into several: the parts
            // in hand, made ahead of the writing, stay a few megabytes however large a folder is.
            const ResultsStore& store = session.store;
            shared.starts.push_back({});
            std::size_t files = 0;
            for (std::size_t i = 0; i < store.sectionCount(); ++i) {
                const std::size_t entries = store.sectionSize(i);
                for (std::size_t at = 0; at < entries;) {
                    const std::size_t taken = std::min(entries - at, kFilesPerPart - files);
                    at += taken;
                    files += taken;
                    if (files == kFilesPerPart) {
                        shared.starts.push_back({i, at});
                        files = 0;
                    }
                }
            }
            if (files > 0)
                shared.starts.push_back({store.sectionCount(), 0});
            const auto parts = static_cast<std::int64_t>(shared.starts.size() - 1);
            PieceWalkers<JsonParts> walkers([&] { return std::make_unique<JsonParts>(shared); }, parts, true);
            std::int64_t written = 0;
            for (std::int64_t part = 0; part < parts; ++part) {
                JsonParts::Findings* made = nullptr;
                while (!(made = walkers.next(part))) {}
                std::string_view text = made->text;
                // Each part was made as though files came before it.
                if (written == 0 && !text.empty() && text.front() == ',')
                    text.remove_prefix(1);
                out << text;
                written += made->files;
                walkers.done(part);
            }
            json.writtenApart(written > 0 ? 1 : 0);
        }
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
