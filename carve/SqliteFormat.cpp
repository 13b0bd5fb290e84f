// SQLite databases. The header gives the page size and, when its version-valid-for number matches
// the change counter, the page count: the file is exactly that many pages. Every page is then
// accounted for by what reaches it: the b-trees from the schema table on page 1 (each page's cells,
// free blocks and fragments must fill its content area exactly), their overflow chains, the
// freelist and the pointer-map pages. There is no checksum, so the content counts as checked only
// when every page was reached and every check held.

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "carve/BlockReader.h"
#include "carve/Parsers.h"

namespace orv::carve {

namespace {

constexpr std::array<std::uint8_t, 16> kMagic{'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                              'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};

namespace header {
constexpr std::size_t kPageSize = 16; // u16 BE; 1 means 65536
constexpr std::size_t kWriteVersion = 18; // u8; 1 legacy, 2 WAL
constexpr std::size_t kReadVersion = 19; // u8
constexpr std::size_t kReserved = 20; // u8, bytes kept at the end of every page
constexpr std::size_t kFractions = 21; // u8 64, u8 32, u8 32: fixed by the format
constexpr std::size_t kChangeCounter = 24; // u32 BE
constexpr std::size_t kPageCount = 28; // u32 BE, valid when kValidFor equals kChangeCounter
constexpr std::size_t kFreelistTrunk = 32; // u32 BE
constexpr std::size_t kFreelistCount = 36; // u32 BE
constexpr std::size_t kLargestRoot = 52; // u32 BE; not 0 when pointer-map pages exist
constexpr std::size_t kEncoding = 56; // u32 BE, 1..3
constexpr std::size_t kZeroes = 72; // 20 bytes kept zero
constexpr std::size_t kValidFor = 92; // u32 BE
constexpr std::size_t kSize = 100;
} // namespace header

// Page kinds as the b-tree header's first byte gives them.
constexpr std::uint8_t kIndexInterior = 2;
constexpr std::uint8_t kTableInterior = 5;
constexpr std::uint8_t kIndexLeaf = 10;
constexpr std::uint8_t kTableLeaf = 13;

// Far deeper than any real b-tree (SQLite itself stops at 20 levels).
constexpr int kMaxDepth = 40;
// The most pages followed; a larger database is cut there.
constexpr std::uint64_t kMaxPages = std::uint64_t{1} << 24;

enum PageState : std::uint8_t { Unreached, Checked, Unchecked };

std::optional<std::uint32_t> pageSizeOf(std::span<const std::uint8_t> head)
{
    const auto raw = static_cast<std::uint32_t>(beAt(head, header::kPageSize, 2));
    const std::uint32_t size = raw == 1 ? 65536 : raw;
    if (size < 512 || size > 65536 || (size & (size - 1)) != 0)
        return std::nullopt;
    return size;
}

// A SQLite varint: 1..9 bytes, big-endian groups of seven bits, the ninth byte whole.
bool varint(std::span<const std::uint8_t> s, std::size_t& at, std::uint64_t& value)
{
    value = 0;
    for (int i = 0; i < 9; ++i) {
        if (at >= s.size())
            return false;
        const std::uint8_t b = s[at++];
        if (i == 8) {
            value = (value << 8) | b;
            return true;
        }
        value = (value << 7) | (b & 0x7F);
        if ((b & 0x80) == 0)
            return true;
    }
    return true;
}

std::uint64_t serialSize(std::uint64_t type)
{
    static constexpr std::array<std::uint64_t, 12> kSizes{0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
    if (type < 12)
        return kSizes[type];
    return (type - 12) / 2;
}

class SqliteParser
{
public:
    SqliteParser(Bytes& bytes, std::uint64_t limit) : m_reader(bytes, limit) {}
    Parse run();

private:
    struct Pending
    {
        std::uint32_t page;
        std::uint32_t parent; // the page that links to it
        int depth;
        bool table; // which kind of tree: a table's pages hold rowids, an index's keys
        bool schema; // the schema table, whose rows give the other trees' roots
    };

    bool readPage(std::uint32_t page);
    enum class Tree : std::uint8_t { Good, Bad, Taken };
    bool claim(std::uint32_t page, PageState state, std::uint32_t referrer);
    void fail(std::uint32_t low, std::uint32_t high);
    void fail(std::uint32_t page) { fail(page, page); }
    bool missing(std::uint32_t page);
    Tree checkTreePage(const Pending& at, std::vector<Pending>& stack);
    bool cell(std::span<const std::uint8_t> page, std::uint8_t type, std::size_t at, std::size_t& size,
              const Pending& from, std::vector<Pending>& stack);
    void overflow(std::uint32_t first, std::uint64_t bytes, std::uint32_t referrer);
    void freelist(std::uint32_t trunk, std::uint64_t count);
    void pointerMaps();
    void walk(std::uint32_t root, std::uint32_t referrer, bool table, bool schema);
    std::uint64_t readablePages(std::uint64_t wanted);

    BlockReader m_reader;
    std::uint32_t m_pageSize = 0;
    std::uint32_t m_usable = 0;
    std::uint64_t m_pages = 0; // pages the database has, as far as they can be read
    std::uint64_t m_declared = 0; // pages the header says it has (all the readable ones when it cannot say)
    std::vector<std::uint8_t> m_state; // PageState by page number (1-based)
    std::vector<std::uint8_t> m_page;
    std::vector<std::uint8_t> m_tree; // the b-tree page being checked
    std::vector<std::uint8_t> m_used; // which bytes of the current page a cell or free block covers
    std::vector<std::uint32_t> m_owner; // by page number: the page whose link reached it
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_roots; // root page, the schema page naming it
    // The first break: the lowest page a check failed on, and with it the highest page that the
    // same fault may lie in (of two pages linking to one page, either may be the wrong one).
    std::uint32_t m_breakLow = 0;
    std::uint32_t m_breakHigh = 0;
};

bool SqliteParser::readPage(std::uint32_t page)
{
    const std::span<const std::uint8_t> s = m_reader.get(std::uint64_t{page - 1} * m_pageSize, m_pageSize);
    if (s.empty())
        return false;
    m_page.assign(s.begin(), s.end());
    return true;
}

// Takes a page for one use. A page that another link already reached is a contradiction in one
// of the two pages that link to it, not in the page itself.
bool SqliteParser::claim(std::uint32_t page, PageState state, std::uint32_t referrer)
{
    if (page == 0 || page > m_pages) {
        missing(page);
        return false;
    }
    if (m_state[page] != Unreached) {
        const std::uint32_t other = m_owner[page] != 0 ? m_owner[page] : page;
        const std::uint32_t self = referrer != 0 ? referrer : page;
        fail(std::min(self, other), std::max(self, other));
        return false;
    }
    m_state[page] = state;
    m_owner[page] = referrer;
    return true;
}

// A page the database has but the bytes do not: it is noted as the first one missing.
bool SqliteParser::missing(std::uint32_t page)
{
    if (page <= m_pages || page > m_declared)
        return false;
    fail(page);
    return true;
}

void SqliteParser::fail(std::uint32_t low, std::uint32_t high)
{
    if (low == 0)
        return;
    if (m_breakLow == 0 || low < m_breakLow) {
        m_breakLow = low;
        m_breakHigh = high;
    } else if (low == m_breakLow) {
        m_breakHigh = std::max(m_breakHigh, high);
    }
}

// Follows a cell's overflow chain. A fault is the chain's own (the page whose link is wrong), not
// the fault of the b-tree page that holds the cell.
void SqliteParser::overflow(std::uint32_t first, std::uint64_t bytes, std::uint32_t referrer)
{
    const std::uint64_t perPage = m_usable - 4;
    std::uint32_t page = first;
    for (std::uint64_t left = bytes; left > 0;) {
        if (missing(page))
            return; // the chain goes on past the bytes there are
        if (page == 0 || page > m_declared) {
            fail(referrer);
            return;
        }
        if (!claim(page, Checked, referrer) || !readPage(page))
            return;
        referrer = page;
        const auto next = static_cast<std::uint32_t>(beAt(m_page, 0, 4));
        left -= std::min(left, perPage);
        if ((left == 0) != (next == 0)) {
            fail(page);
            return;
        }
        page = next;
    }
}

// One cell at offset `at` of the page in m_page; its size lands in `size`.
bool SqliteParser::cell(std::span<const std::uint8_t> page, std::uint8_t type, std::size_t at, std::size_t& size,
                        const Pending& from, std::vector<Pending>& stack)
{
    std::size_t p = at;
    if (type == kTableInterior || type == kIndexInterior) {
        if (page.size() - p < 4)
            return false;
        const auto child = static_cast<std::uint32_t>(beAt(page, p, 4));
        p += 4;
        if (from.depth + 1 > kMaxDepth || child == 0 || child > m_declared)
            return false;
        stack.push_back(Pending{child, from.page, from.depth + 1, from.table, from.schema});
        if (type == kTableInterior) {
            std::uint64_t rowid = 0;
            if (!varint(page, p, rowid))
                return false;
            size = p - at;
            return true;
        }
    }
    std::uint64_t payload = 0;
    if (!varint(page, p, payload))
        return false;
    if (type == kTableLeaf) {
        std::uint64_t rowid = 0;
        if (!varint(page, p, rowid))
            return false;
    }
    // How much of the payload stays in the cell; the rest goes to overflow pages.
    const std::uint64_t u = m_usable;
    const std::uint64_t maxLocal = type == kTableLeaf ? u - 35 : (u - 12) * 64 / 255 - 23;
    const std::uint64_t minLocal = (u - 12) * 32 / 255 - 23;
    std::uint64_t local = payload;
    if (payload > maxLocal) {
        const std::uint64_t k = minLocal + (payload - minLocal) % (u - 4);
        local = k <= maxLocal ? k : minLocal;
    }
    if (local > page.size() - p)
        return false;
    const std::span<const std::uint8_t> record = page.subspan(p, static_cast<std::size_t>(local));
    p += static_cast<std::size_t>(local);

    // The record's header must account for the payload's length exactly.
    std::size_t r = 0;
    std::uint64_t headerSize = 0;
    if (!varint(record, r, headerSize) || headerSize > payload || headerSize < r)
        return false;
    std::uint64_t rootPage = 0;
    if (headerSize <= record.size()) {
        std::uint64_t total = headerSize;
        std::uint64_t valueAt = headerSize;
        for (int column = 0; r < headerSize; ++column) {
            std::uint64_t serial = 0;
            if (!varint(record.first(static_cast<std::size_t>(headerSize)), r, serial) || serial == 10 || serial == 11)
                return false;
            const std::uint64_t length = serialSize(serial);
            // The schema table's fourth column is the root page of the table or index it names.
            if (from.schema && column == 3 && serial >= 1 && serial <= 4 && valueAt + length <= record.size())
                rootPage = beAt(record, static_cast<std::size_t>(valueAt), static_cast<std::size_t>(length));
            if (from.schema && column == 3 && (serial == 8 || serial == 9))
                rootPage = serial == 9 ? 1 : 0;
            total += length;
            valueAt += length;
            if (total > payload)
                return false;
        }
        if (total != payload)
            return false;
    }
    if (rootPage > m_declared)
        return false;
    if (rootPage != 0 && m_roots.size() < m_pages)
        m_roots.emplace_back(static_cast<std::uint32_t>(rootPage), from.page);
    if (local < payload) {
        if (page.size() - p < 4)
            return false;
        const auto first = static_cast<std::uint32_t>(beAt(page, p, 4));
        p += 4;
        overflow(first, payload - local, from.page);
    }
    size = std::max<std::size_t>(p - at, 4);
    return true;
}

SqliteParser::Tree SqliteParser::checkTreePage(const Pending& at, std::vector<Pending>& stack)
{
    if (!claim(at.page, Checked, at.parent) || !readPage(at.page))
        return Tree::Taken;
    // Its own copy: the cells' overflow chains are read through m_page.
    m_tree.assign(m_page.begin(), m_page.begin() + m_usable);
    const std::span<const std::uint8_t> page = m_tree;
    const std::size_t h = at.page == 1 ? header::kSize : 0;
    const std::uint8_t type = page[h];
    const bool interior = type == kTableInterior || type == kIndexInterior;
    const bool table = type == kTableInterior || type == kTableLeaf;
    if ((type != kTableInterior && type != kTableLeaf && type != kIndexInterior && type != kIndexLeaf) ||
        table != at.table)
        return Tree::Bad;
    const std::size_t headerSize = interior ? 12 : 8;
    const auto firstFree = static_cast<std::size_t>(beAt(page, h + 1, 2));
    const auto cells = static_cast<std::size_t>(beAt(page, h + 3, 2));
    std::size_t contentStart = static_cast<std::size_t>(beAt(page, h + 5, 2));
    if (contentStart == 0)
        contentStart = 65536;
    const std::size_t fragmented = page[h + 7];
    const std::size_t pointers = h + headerSize;
    if (pointers + 2 * cells > contentStart || contentStart > m_usable || fragmented > 60)
        return Tree::Bad;
    // A leaf without cells is only the empty root of a tree.
    if (cells == 0 && (interior || at.depth > 0))
        return Tree::Bad;

    m_used.assign(m_usable, 0);
    const auto cover = [this, contentStart](std::size_t from, std::size_t length) {
        if (from < contentStart || from > m_usable || length > m_usable - from)
            return false;
        for (std::size_t i = from; i < from + length; ++i) {
            if (m_used[i] != 0)
                return false;
            m_used[i] = 1;
        }
        return true;
    };
    std::size_t covered = 0;
    for (std::size_t i = 0; i < cells; ++i) {
        const auto offset = static_cast<std::size_t>(beAt(page, pointers + 2 * i, 2));
        std::size_t size = 0;
        if (offset < contentStart || offset >= m_usable)
            return Tree::Bad;
        const bool ok = cell(page, type, offset, size, at, stack);
        if (!ok || !cover(offset, size))
            return Tree::Bad;
        covered += size;
    }
    // Free blocks: a chain in ascending order, each at least four bytes.
    std::size_t free = firstFree;
    for (std::size_t n = 0; free != 0; ++n) {
        if (n > m_usable / 4 || free + 4 > m_usable)
            return Tree::Bad;
        const auto next = static_cast<std::size_t>(beAt(page, free, 2));
        const auto length = static_cast<std::size_t>(beAt(page, free + 2, 2));
        if (length < 4 || !cover(free, length) || (next != 0 && next <= free + length))
            return Tree::Bad;
        covered += length;
        free = next;
    }
    if (covered + fragmented != m_usable - contentStart)
        return Tree::Bad;
    if (interior) {
        const auto right = static_cast<std::uint32_t>(beAt(page, h + 8, 4));
        if (right == 0 || right > m_declared || at.depth + 1 > kMaxDepth)
            return Tree::Bad;
        stack.push_back(Pending{right, at.page, at.depth + 1, at.table, at.schema});
    }
    return Tree::Good;
}

void SqliteParser::walk(std::uint32_t root, std::uint32_t referrer, bool table, bool schema)
{
    std::vector<Pending> stack{Pending{root, referrer, 0, table, schema}};
    while (!stack.empty()) {
        const Pending at = stack.back();
        stack.pop_back();
        const std::size_t before = stack.size();
        const Tree tree = checkTreePage(at, stack);
        if (tree == Tree::Taken) {
            stack.resize(before);
        } else if (tree == Tree::Bad) {
            // Its children are not to be trusted: they stay unreached.
            stack.resize(before);
            fail(at.page);
        }
    }
}

void SqliteParser::freelist(std::uint32_t trunk, std::uint64_t count)
{
    std::uint64_t found = 0;
    std::uint32_t last = 1;
    for (std::uint32_t page = trunk; page != 0;) {
        if (missing(page))
            return;
        if (!claim(page, Checked, last) || !readPage(page))
            return;
        last = page;
        const auto next = static_cast<std::uint32_t>(beAt(m_page, 0, 4));
        const std::uint64_t leaves = beAt(m_page, 4, 4);
        if (leaves > m_usable / 4 - 2) {
            fail(page);
            return;
        }
        for (std::uint64_t i = 0; i < leaves; ++i) {
            // A free page's bytes are whatever it held last: reached, but nothing to check.
            const auto leaf = static_cast<std::uint32_t>(beAt(m_page, static_cast<std::size_t>(8 + 4 * i), 4));
            if (!missing(leaf) && !claim(leaf, Unchecked, page)) {
                fail(page);
                return;
            }
        }
        found += 1 + leaves;
        if (found > count) {
            fail(page);
            return;
        }
        page = next;
    }
    if (found != count)
        fail(last);
}

// In an auto-vacuum database every (usable / 5 + 1)-th page from page 2 maps pages to parents.
void SqliteParser::pointerMaps()
{
    const std::uint64_t span = m_usable / 5 + 1;
    for (std::uint64_t page = 2; page <= m_pages; page += span) {
        if (!claim(static_cast<std::uint32_t>(page), Checked, 0) || !readPage(static_cast<std::uint32_t>(page)))
            continue;
        for (std::uint64_t i = 0; i + 1 < span && page + 1 + i <= m_pages; ++i)
            if (m_page[5 * i] < 1 || m_page[5 * i] > 5)
                fail(static_cast<std::uint32_t>(page));
    }
}

// How many of `wanted` pages can be read, found by halving when the last one cannot.
std::uint64_t SqliteParser::readablePages(std::uint64_t wanted)
{
    wanted = std::min({wanted, m_reader.end() / m_pageSize, kMaxPages});
    if (wanted == 0 || !m_reader.get(wanted * m_pageSize - 1, 1).empty())
        return wanted;
    std::uint64_t low = 1, high = wanted; // page `low` is readable, page `high` is not
    while (high - low > 1) {
        const std::uint64_t mid = low + (high - low) / 2;
        if (m_reader.get(mid * m_pageSize - 1, 1).empty())
            high = mid;
        else
            low = mid;
    }
    return low;
}

Parse SqliteParser::run()
{
    Parse none;
    none.extension = "sqlite";
    const std::span<const std::uint8_t> head = m_reader.get(0, header::kSize);
    if (head.empty() || !beginsSqlite(head))
        return none;
    std::vector<std::uint8_t> h(head.begin(), head.end());
    m_pageSize = *pageSizeOf(h);
    m_usable = m_pageSize - h[header::kReserved];
    const bool countValid = beAt(h, header::kValidFor, 4) == beAt(h, header::kChangeCounter, 4);
    const std::uint64_t declared = beAt(h, header::kPageCount, 4);
    // Without a valid count (an old writer), the database is as long as the pages reached.
    const std::uint64_t wanted = countValid && declared != 0 ? declared : kMaxPages;
    m_pages = readablePages(wanted);
    m_declared = countValid && declared != 0 ? declared : m_pages;
    if (m_pages == 0)
        return none;
    m_state.assign(m_pages + 1, Unreached);
    m_owner.assign(m_pages + 1, 0);

    // The page that holds the lock byte at 1 GiB is never written.
    const std::uint64_t lockPage = (std::uint64_t{1} << 30) / m_pageSize + 1;
    if (lockPage <= m_pages)
        m_state[lockPage] = Checked;
    if (beAt(h, header::kLargestRoot, 4) != 0)
        pointerMaps();
    freelist(static_cast<std::uint32_t>(beAt(h, header::kFreelistTrunk, 4)), beAt(h, header::kFreelistCount, 4));
    walk(1, 0, true, true);
    for (std::size_t i = 0; i < m_roots.size(); ++i) {
        const auto [root, named] = m_roots[i];
        if (root > m_pages) {
            missing(root);
            continue;
        }
        // A root's kind decides the tree's kind: its page says whether it is a table or an index.
        bool table = true;
        if (readPage(root)) {
            const std::uint8_t type = m_page[0];
            table = type == kTableInterior || type == kTableLeaf;
        }
        walk(root, named, table, false);
    }

    std::uint64_t total = m_pages;
    if (!countValid || declared == 0) {
        total = 0;
        for (std::uint64_t page = m_pages; page > 0 && total == 0; --page)
            if (m_state[page] != Unreached)
                total = page;
    }
    std::uint64_t firstUnchecked = 0;
    for (std::uint64_t page = 1; page <= total && firstUnchecked == 0; ++page)
        if (m_state[page] != Checked)
            firstUnchecked = page;
    const std::uint64_t firstFailed = m_breakLow;
    const bool complete = countValid && declared != 0 ? m_pages == declared : true;

    Parse p;
    p.extension = "sqlite";
    if (firstFailed == 0 && complete) {
        p.verdict = Verdict::Whole;
        p.size = total * m_pageSize;
        p.goodUpTo = p.size;
        p.contentChecked = firstUnchecked == 0;
        return p;
    }
    // Cut where the first page that is not known good starts: below it every page checked out.
    std::uint64_t good = firstUnchecked != 0 ? firstUnchecked - 1 : total;
    if (firstFailed != 0)
        good = std::min(good, firstFailed - 1);
    p.verdict = good == 0 ? Verdict::None : Verdict::Cut;
    p.size = good * m_pageSize;
    p.goodUpTo = p.size;
    p.brokeAt = firstFailed != 0 ? std::uint64_t{m_breakHigh} * m_pageSize : 0;
    return p;
}

} // namespace

bool beginsSqlite(std::span<const std::uint8_t> head)
{
    if (head.size() < header::kSize || !std::equal(kMagic.begin(), kMagic.end(), head.begin()))
        return false;
    const std::uint8_t write = head[header::kWriteVersion];
    const std::uint8_t read = head[header::kReadVersion];
    const std::optional<std::uint32_t> pageSize = pageSizeOf(head);
    const std::uint64_t encoding = beAt(head, header::kEncoding, 4);
    return pageSize && write >= 1 && write <= 2 && read >= 1 && read <= 2 &&
        *pageSize - head[header::kReserved] >= 480 && head[header::kFractions] == 64 &&
        head[header::kFractions + 1] == 32 && head[header::kFractions + 2] == 32 && encoding <= 3 &&
        std::all_of(head.begin() + header::kZeroes, head.begin() + header::kZeroes + 20,
                    [](std::uint8_t b) { return b == 0; });
}

Parse parseSqlite(Bytes& bytes, std::uint64_t limit, std::uint64_t /*stopAfter*/)
{
    // The pages are reached through the b-trees, not in file order, so the parse always runs to
    // the end: it cannot tell early that the bytes past a point check out.
    return SqliteParser(bytes, limit).run();
}

} // namespace orv::carve
