#include "shell/ui/ResultsWindow.h"

#include "shell/ui/Accessibility.h"
#include "shell/ui/LanguageLocale.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QTreeWidget>
#include <QUrl>

#include "base/Utf16.h"
#include "results/FileSystem.h"
#include "results/JpegPreview.h"
#include "shell/LanguageLayout.h"
#include "shell/Product.h"

namespace orv::ui {

namespace {

constexpr int kWindowWidth = 705;
constexpr int kWindowHeight = 559;
constexpr int kMinimumTreeWidth = 170;
// The list keeps at least this much of the window beside the tree.
constexpr int kListReserve = 400;
constexpr int kPreviewBox = 48;
constexpr int kBarSteps = 1000;
// The right edge that the information panel's values keep to.
// The right edge of the information panel (it ends at 685), less a margin.
constexpr int kPanelRight = 680;
// How many names of stopped or damaged files the final message lists before it only counts.
constexpr int kNamesListed = 3;
const QColor kLabelColour(210, 232, 253);
const QColor kCaptionColour(0xB0, 0xCB, 0xFB);
const QColor kFocusedSelection(0x30, 0x8C, 0xC6);
const QColor kUnfocusedSelection(0xD4, 0xDE, 0xE8);

QString qs(const std::u16string& text)
{
    return QString::fromStdU16String(text);
}

// A caption whose longest word is wider than its label ("Wiederherstellen") is drawn a little
// smaller, and if that is not enough its label takes the plate's room between `leftEdge` (right of
// the picture on the plate) and `rightEdge`, rather than cutting the word at both ends. A soft
// hyphen in a translation is a place where the word may break across the two lines.
// Names joined by commas, the first few of them and how many more.
QString listedNames(const QStringList& list)
{
    QString line = list.mid(0, kNamesListed).join(QStringLiteral(", "));
    if (list.size() > kNamesListed)
        line += QStringLiteral(", \u2026 (+") + QString::number(list.size() - kNamesListed) + QLatin1Char(')');
    return line;
}

// Why the file `name` was not written, in the catalogue's language.
QString problemText(const LanguageCatalogue& texts, const QString& name, const RestoreOutcome& outcome)
{
    using Problem = RestoreOutcome::Problem;
    const auto withCause = [&](const LanguageText& entry) {
        return text(texts, entry).arg(name, causeText(texts, outcome.error));
    };
    switch (outcome.problem) {
    case Problem::NotOnVolume: return text(texts, lang::kRestoredNotOnVolume).arg(name);
    case Problem::NotListed: return text(texts, lang::kRestoredNotListed).arg(name);
    case Problem::Empty: return text(texts, lang::kRestoredEmpty).arg(name);
    case Problem::NoRoom: return text(texts, lang::kRestoredNoRoom).arg(name);
    case Problem::FolderNotMade: return text(texts, lang::kRestoredFolderNotMade).arg(name);
    case Problem::CannotCreate: return withCause(lang::kRestoredCannotCreate);
    case Problem::CannotWrite: return withCause(lang::kRestoredCannotWrite);
    case Problem::CannotName: return withCause(lang::kRestoredCannotName);
    case Problem::CannotOpenFolder: return withCause(lang::kRestoredCannotOpenFolder);
    case Problem::None: break;
    }
    // A skip with no kind of its own (nothing chosen it could be).
    return text(texts, lang::kRestoredNotOnVolume).arg(name);
}

void fitCaption(QLabel* label, int leftEdge, int rightEdge)
{
    QFont font = label->font();
    static const QRegularExpression kBreaks(QStringLiteral("[ \u00AD]"));
    const QStringList words = label->text().split(kBreaks, Qt::SkipEmptyParts);
    const auto widest = [&words](const QFont& f) {
        const QFontMetrics metrics(f);
        int width = 0;
        for (const QString& word : words)
            width = std::max(width, metrics.horizontalAdvance(word + QLatin1Char('-')));
        return width;
    };
    while (font.pixelSize() > 9 && widest(font) > label->width())
        font.setPixelSize(font.pixelSize() - 1);
    label->setFont(font);
    if (const int needed = widest(font) + 2; needed > label->width()) {
        const int width = std::min(needed, rightEdge - leftEdge);
        const int centre = label->geometry().center().x();
        const int left = std::clamp(centre - width / 2, leftEdge, rightEdge - width);
        label->setGeometry(left, label->y(), width, label->height());
    }
}

} // namespace

TForm2::TForm2(ResultsServices services)
    : SkinDialog(QSize(kWindowWidth, kWindowHeight), QStringLiteral("results")), m_services(std::move(services))
{
    setObjectName(QStringLiteral("TForm2"));
    // The program's second main window, not a question: a frame for assistive technology.
    setAccessibleRole(this, kMainWindowRole);
    // The list panel and the information panel, as the window's picture draws them.
    setPanels({QRect(26, 44, 650, 334), QRect(20, 410, 665, 68)});
    setWindowTitle(QString::fromUtf8(kProductName.data(), static_cast<int>(kProductName.size())));
    setFont(skinFont(QStringLiteral("Arial"), 11, false));
    const LanguageCatalogue& texts = m_services.texts;
    const QFont plain = skinFont(QStringLiteral("Arial"), 11, false);
    const QFont bold = skinFont(QStringLiteral("Arial"), 11, true);

    // The row of small buttons at the right end of the top band; the band left of them drags.
    m_topButtons = addTopButtons(*this, {538, 566, 595, 624, 653}, texts);
    setDragBand([](QPoint point) { return point.y() < 30 && point.x() < 538; });

    // The folder tree and the file list share a panel; the splitter between them moves.
    m_listPanel = new QWidget(this);
    m_listPanel->setObjectName(QStringLiteral("ListPanel"));
    m_listPanel->setGeometry(29, 47, 644, 328);
    m_splitter = new QSplitter(Qt::Horizontal, m_listPanel);
    m_splitter->setObjectName(QStringLiteral("ListSplitter"));
    m_splitter->setGeometry(m_listPanel->rect());
    m_splitter->setHandleWidth(3);
    m_splitter->setChildrenCollapsible(false);

    m_tree = new QTreeWidget(m_splitter);
    m_tree->setObjectName(QStringLiteral("DList"));
    m_tree->setHeaderHidden(true);
    m_tree->setIndentation(19);
    m_tree->setUniformRowHeights(true);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tree->setIconSize(QSize(16, 16));
    m_tree->setMinimumWidth(kMinimumTreeWidth);
    m_tree->setMaximumWidth(kWindowWidth - kListReserve);
    m_folderIcons[FolderExists] = QIcon(skinPicture(QStringLiteral("tree_folder"), QSize(16, 16)));
    m_folderIcons[FolderGone] = QIcon(skinPicture(QStringLiteral("tree_folder_gone"), QSize(16, 16)));

    m_list = new QTableView(m_splitter);
    m_list->setObjectName(QStringLiteral("FList"));
    m_model = new FileListModel(m_services.session, texts, this);
    m_model->setLocale(languageLocale(m_services.languageIndex));
    m_list->setModel(m_model);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setShowGrid(true);
    m_list->setWordWrap(false);
    m_list->setIconSize(QSize(16, 16));
    m_list->setTabKeyNavigation(false);
    // Fixed row heights and column widths: measuring would read every row of a large folder.
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(18);
    QHeaderView* header = m_list->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    header->setSectionsClickable(true);
    // A heading longer than its column ("Wiederherstellbarkeit") keeps its start readable.
    header->setTextElideMode(Qt::ElideRight);
    // A heading wider than its column's drawn width widens the column; the File column gives up
    // the room, as it does when the splitter moves.
    const int widths[] = {176, 80, 54, 60, 70};
    const QFontMetrics headerMetrics(header->font());
    // A heading needs its text and the header's margin on each side: a column narrower than that
    // ("Recoverability", "Dimensione") is widened to it.
    const int headerMargin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int column = 0; column < FileListModel::ColumnCount; ++column) {
        const QString heading = m_model->headerData(column, Qt::Horizontal).toString();
        const int needed = headerMetrics.horizontalAdvance(heading) + 2 * headerMargin + 2;
        m_list->setColumnWidth(column,
                               column == FileListModel::Name ? widths[column] : std::max(widths[column], needed));
    }
    QPalette listPalette = m_list->palette();
    listPalette.setColor(QPalette::Base, Qt::white);
    m_list->setPalette(listPalette);
    // The tree and the list each keep a selection: the one with the focus draws it in the strong
    // colour, the other in a pale one, so the keyboard's place can be seen.
    for (QAbstractItemView* view : std::initializer_list<QAbstractItemView*>{m_tree, m_list}) {
        QPalette palette = view->palette();
        palette.setColor(QPalette::Active, QPalette::Highlight, kFocusedSelection);
        palette.setColor(QPalette::Active, QPalette::HighlightedText, Qt::white);
        palette.setColor(QPalette::Inactive, QPalette::Highlight, kUnfocusedSelection);
        palette.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::black);
        view->setPalette(palette);
    }
    m_list->installEventFilter(this);
    m_splitter->addWidget(m_tree);
    m_splitter->addWidget(m_list);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({kMinimumTreeWidth, 644 - kMinimumTreeWidth - m_splitter->handleWidth()});

    // Counters and the progress of Restore and Wipe share the line under the panel.
    m_resultLabel = addLabel(QStringLiteral("ResultLabel"), QRect(32, 382, 350, 14), kLabelColour, bold);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("ProgressBar"));
    m_progressBar->setGeometry(32, 382, 233, 14);
    // Tenths of a percent: the bar also follows the bytes inside a large file.
    m_progressBar->setRange(0, kBarSteps);
    m_progressBar->setTextVisible(false);
    m_progressBar->setStyleSheet(QStringLiteral("QProgressBar { border: 1px solid #8fb6f0; background: #0a1c36; }"
                                                "QProgressBar::chunk { background: rgb(0, 102, 153); }"));
    m_progressBar->hide();
    m_progressLabel = addLabel(QStringLiteral("ProgressLabel"), QRect(272, 382, 110, 14), kLabelColour, bold);
    m_progressLabel->hide();

    QFont link = plain;
    link.setUnderline(true);
    m_selectLabel = addLabel(QStringLiteral("SelectLabel"), QRect(392, 381, 136, 14), Qt::white, link, Qt::AlignCenter);
    m_deselectLabel =
        addLabel(QStringLiteral("DeSelectLabel"), QRect(536, 381, 136, 14), Qt::white, link, Qt::AlignCenter);
    m_selectLabel->setText(text(texts, lang::kMenuItemsCheckAll));
    m_deselectLabel->setText(text(texts, lang::kMenuItemsUnCheckAll));
    for (QLabel* label : {m_selectLabel, m_deselectLabel})
        label->setCursor(Qt::PointingHandCursor);

    m_findLabel = addLabel(QStringLiteral("FindLabel"), QRect(32, 420, 215, 14), kLabelColour, plain);
    m_findLabel->setText(text(texts, lang::kButtonsFindInResults));
    m_findEdit = new QLineEdit(this);
    m_findEdit->setObjectName(QStringLiteral("FindEdit"));
    m_findEdit->setGeometry(26, 438, 158, 22);
    m_find = addButton(QStringLiteral("Button4"), QRect(186, 437, 31, 25), QStringLiteral("search_normal"),
                       QStringLiteral("search_hover"));
    m_find->setHint(text(texts, lang::kButtonsFind));

    // The information panel: the current file's picture, name, size and grade.
    m_preview = addLabel(QStringLiteral("PreviewImage"), QRect(256, 420, kPreviewBox, kPreviewBox), kLabelColour, plain,
                         Qt::AlignCenter);
    // The names of the panel's lines take the width of their text, as the value column allows.
    const std::pair<const char*, const LanguageText*> names[] = {
        {"Label1a", &lang::kFileFile}, {"Label2a", &lang::kFileSize}, {"Label3a", &lang::kFileRecoverability}};
    // The values share one left edge: where the panel's design puts them, or a gap after the longest
    // name ("Wiederherstellbarkeit"), so no name and value run together and the three stay in line;
    // they end at the panel's edge.
    int nameRight[3] = {};
    for (int line = 0; line < 3; ++line) {
        QLabel* label =
            addLabel(QLatin1String(names[line].first), QRect(320, 420 + 16 * line, 0, 14), kLabelColour, bold);
        label->setText(text(texts, *names[line].second));
        label->resize(label->sizeHint().width(), 14);
        nameRight[line] = label->x() + label->width();
    }
    const int valueLeft = std::max(420, *std::max_element(std::begin(nameRight), std::end(nameRight)) + 8);
    const auto valueBox = [&](int line) { return QRect(valueLeft, 420 + 16 * line, kPanelRight - valueLeft, 14); };
    m_label1b = addLabel(QStringLiteral("Label1b"), valueBox(0), kLabelColour, bold);
    m_label2b = addLabel(QStringLiteral("Label2b"), valueBox(1), kLabelColour, bold);
    m_label3b = addLabel(QStringLiteral("Label3b"), valueBox(2), kLabelColour, bold);
    m_streamsName = addLabel(QStringLiteral("StreamsName"), QRect(320, 468, 0, 14), kLabelColour, bold);
    m_streamsName->setText(text(texts, lang::kFileStreams));
    m_streamsName->resize(m_streamsName->sizeHint().width(), 14);
    const int streamsLeft = m_streamsName->x() + m_streamsName->width() + 4;
    m_streamsValue = addLabel(QStringLiteral("StreamsValue"), QRect(streamsLeft, 468, kPanelRight - streamsLeft, 14),
                              kLabelColour, bold);
    m_streamsName->hide();

    // The three large buttons, each with its two-line caption right of its picture.
    const QFont captionFont = skinFont(QStringLiteral("Verdana"), 11, true);
    const auto largeButton = [&](const char* name, int left, int captionLeft, const char* picture,
                                 const LanguageText& caption) {
        const QString base = QStringLiteral("results_") + QLatin1String(picture);
        ImageButton* button = addButton(QLatin1String(name), QRect(left, 488, 144, 60),
                                        base + QStringLiteral("_normal"), base + QStringLiteral("_hover"));
        QLabel* label =
            button->addCaption(QRect(captionLeft, 504, 70, 30), text(texts, caption), kCaptionColour, captionFont);
        label->setWordWrap(true);
        fitCaption(label, left + 48, left + 144 - 4);
        return button;
    };
    m_restore = largeButton("Button1", 246, 302, "restore", lang::kButtonsRestore);
    m_wipe = largeButton("Button2", 392, 456, "wipe", lang::kButtonsWipe);
    m_close = largeButton("Button3", 536, 598, "close", lang::kButtonsClose);

    // Select all and Deselect all are links: the keyboard reaches them through plates of their own.
    m_selectKey = new KeyPlate(this, QStringLiteral("SelectLabelKey"), m_selectLabel->geometry());
    m_selectKey->describe(m_selectLabel->text(), QString());
    m_deselectKey = new KeyPlate(this, QStringLiteral("DeSelectLabelKey"), m_deselectLabel->geometry());
    m_deselectKey->describe(m_deselectLabel->text(), QString());
    connect(m_selectKey, &QAbstractButton::clicked, this, &TForm2::SelectLabelClick);
    connect(m_deselectKey, &QAbstractButton::clicked, this, &TForm2::DeselectLabelClick);
    m_tree->setAccessibleName(text(texts, lang::kAccessFolders));
    m_list->setAccessibleName(text(texts, lang::kAccessFiles));
    m_findEdit->setAccessibleName(spokenText(m_findLabel->text()));
    m_splitter->setAccessibleName(text(texts, lang::kAccessDivider));
    m_progressBar->setAccessibleName(text(texts, lang::kAccessProgress));
    m_preview->setAccessibleName(text(texts, lang::kAccessPreview));
    setAccessibleRole(m_preview, QAccessible::Graphic);
    // The links are read through their key plates, once.
    hideFromAssistiveTechnology(m_selectLabel);
    hideFromAssistiveTechnology(m_deselectLabel);
    // Through the lists, the selection links, the search, the commands, then the top row.
    QWidget* order[] = {m_tree,
                        m_list,
                        m_selectKey,
                        m_deselectKey,
                        m_findEdit,
                        m_find->keyPlate(),
                        m_restore->keyPlate(),
                        m_wipe->keyPlate(),
                        m_close->keyPlate(),
                        m_topButtons[0]->keyPlate(),
                        m_topButtons[1]->keyPlate(),
                        m_topButtons[2]->keyPlate(),
                        m_topButtons[3]->keyPlate(),
                        m_topButtons[4]->keyPlate()};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) {
        if (!busy())
            DListChange(node);
    });
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TForm2::FlistChange);
    connect(header, &QHeaderView::sectionClicked, this, [this](int column) {
        if (!busy() && m_model->rowCount() >= 2)
            m_model->sort(column, Qt::AscendingOrder);
    });
    connect(m_splitter, &QSplitter::splitterMoved, this, &TForm2::ResizeForm);
    connect(m_restore, &ImageButton::clicked, this, &TForm2::Button1Click);
    connect(m_wipe, &ImageButton::clicked, this, &TForm2::Button2Click);
    connect(m_find, &ImageButton::clicked, this, &TForm2::FindButtonClick);
    // Enter searches as the button does, but an empty field is not worth a message.
    connect(m_findEdit, &QLineEdit::returnPressed, this, [this] {
        if (!m_findEdit->text().isEmpty())
            FindButtonClick();
    });
    for (ImageButton* closer : {m_close, m_topButtons[4]})
        connect(closer, &ImageButton::clicked, this, [this] {
            if (!busy())
                close();
        });
    // Options and About wait for the running operation; Help and Minimise start nothing and work always.
    connect(m_topButtons[0], &ImageButton::clicked, this, [this] {
        if (!busy() && m_services.options)
            m_services.options();
    });
    connect(m_topButtons[1], &ImageButton::clicked, this, [this] {
        if (m_services.help)
            m_services.help();
    });
    connect(m_topButtons[2], &ImageButton::clicked, this, [this] {
        if (!busy() && m_services.about)
            m_services.about();
    });
    connect(m_topButtons[3], &ImageButton::clicked, this, &QWidget::showMinimized);
    fitTexts();
}

TForm2::~TForm2() = default;

void TForm2::run()
{
    ShowForm();
    exec();
}

void TForm2::showEvent(QShowEvent* event)
{
    SkinDialog::showEvent(event);
    ResizeForm();
    m_tree->setFocus();
}

void TForm2::buildTree()
{
    ScanSession& session = m_services.session;
    const FlagScope busy(session.ResultsBusy);
    m_model->showFolder({});
    clearPanel();
    m_tree->clear();
    m_nodes.clear();
    m_mountPoint = m_services.mountPoint ? m_services.mountPoint(session.volume.Drive) : std::filesystem::path();
    // The scanned drive is the first root node, whatever the store holds.
    const std::u16string drive = fromUtf8(session.volume.Drive);
    auto* root = new QTreeWidgetItem(m_tree, QStringList{qs(drive)});
    root->setIcon(0, m_folderIcons[FolderExists]);
    root->setData(0, FolderImageRole, FolderExists);
    m_nodes.emplace(drive, root);

    GuiPump pump(m_pumpInterval);
    for (std::u16string section : session.store.sections()) {
        pump.step();
        if (!section.empty() && section.back() == u'\\')
            section.pop_back();
        AddTreePath(section);
    }
}

void TForm2::ShowForm()
{
    const ScanSession& session = m_services.session;
    setFittedText(m_resultLabel,
                  text(m_services.texts, lang::kProcessFound) + QLatin1Char(' ') + QString::number(session.FilesFound));
    buildTree();
    if (m_nodes.size() >= 2)
        m_tree->topLevelItem(0)->setExpanded(true);
    FindCursor = -1;
}

void TForm2::AddTreePath(const std::u16string& path)
{
    if (m_services.session.store.sectionExists(path))
        return;
    const auto nextComponent = [](std::u16string_view& rest) {
        const std::size_t end = rest.find(u'\\');
        const std::u16string_view component = rest.substr(0, end);
        rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end + 1);
        return std::u16string(component);
    };
    std::u16string_view rest = path;
    std::u16string key = nextComponent(rest);
    QTreeWidgetItem* node = nullptr;
    if (const auto found = m_nodes.find(key); found != m_nodes.end()) {
        node = found->second;
    } else {
        node = new QTreeWidgetItem(m_tree, QStringList{qs(key)});
        node->setIcon(0, m_folderIcons[FolderExists]);
        node->setData(0, FolderImageRole, FolderExists);
        m_nodes.emplace(key, node);
    }
    // Below every root, a folder is looked for on the scanned drive as it is mounted now. A name
    // from the volume that is no plain folder name here ("..", one holding "/") never leads out
    // of the mount point: that folder and those below it count as gone.
    std::filesystem::path live = m_mountPoint;
    bool reachable = !m_mountPoint.empty();
    while (!rest.empty()) {
        const std::u16string component = nextComponent(rest);
        key += u'\\';
        key += component;
        reachable = reachable && !component.empty() && component != u"." && component != u".." &&
            component.find(u'/') == std::u16string::npos;
        if (reachable)
            live /= std::filesystem::path(toUtf8(component));
        if (const auto found = m_nodes.find(key); found != m_nodes.end()) {
            node = found->second;
            continue;
        }
        std::error_code error;
        const bool exists = reachable && std::filesystem::is_directory(live, error);
        auto* child = new QTreeWidgetItem(node, QStringList{qs(component)});
        const FolderImage image = exists ? FolderExists : FolderGone;
        child->setIcon(0, m_folderIcons[image]);
        child->setData(0, FolderImageRole, image);
        m_nodes.emplace(key, child);
        node = child;
    }
}

void TForm2::DListChange(QTreeWidgetItem* node)
{
    if (!node || m_tree->topLevelItemCount() == 0)
        return;
    clearPanel();
    std::u16string folder;
    for (QTreeWidgetItem* up = node; up; up = up->parent())
        folder = up->text(0).toStdU16String() + u"\\" + folder;
    {
        const FlagScope busy(m_services.session.ResultsBusy);
        m_model->showFolder(folder);
    }
    if (m_model->rowCount() > 0) {
        m_list->setCurrentIndex(m_model->index(0, FileListModel::Name));
        m_list->selectRow(0);
    }
}

void TForm2::clearPanel()
{
    m_preview->clear();
    m_label1b->clear();
    m_label2b->clear();
    m_label3b->clear();
    m_streamsName->hide();
    m_streamsValue->clear();
}

void TForm2::FlistChange()
{
    if (busy())
        return;
    clearPanel();
    // With several rows selected the panel describes the first of them.
    int row = -1;
    for (const QItemSelectionRange& range : m_list->selectionModel()->selection())
        if (row < 0 || range.top() < row)
            row = range.top();
    if (row < 0 || row >= m_model->rowCount())
        return;
    const QString name = m_model->fileName(row);
    const std::int64_t size = m_model->fileSize(row);
    setFittedText(m_label1b, name);
    setFittedText(m_label2b, name.isEmpty() ? QString() : sizeText(size, languageLocale(m_services.languageIndex)));
    setFittedText(m_label3b, m_model->data(m_model->index(row, FileListModel::Recoverability)).toString());
    if (const std::optional<FileLocator> file = m_model->locator(row)) {
        QStringList streams;
        for (const NamedStream& stream : fileSystemOf(m_services.session).streams(m_services.session, *file))
            streams << QString::fromStdU16String(stream.name) + QStringLiteral(" (") + sizeText(stream.size) +
                    QLatin1Char(')');
        if (!streams.isEmpty()) {
            m_streamsName->show();
            setFittedText(m_streamsValue, streams.join(QStringLiteral(", ")));
        }
    }
    if (size == 0)
        return;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot).toUpper();
    if (extension == QLatin1String(".JPG")) {
        showPreview(row);
        return;
    }
    // The file type's icon at its usual size, in the middle of the picture box.
    QPixmap box(kPreviewBox, kPreviewBox);
    box.fill(Qt::transparent);
    QPainter painter(&box);
    m_icons.forExtension(dot < 0 ? QStringLiteral(".") : extension).paint(&painter, QRect(8, 8, 32, 32));
    painter.end();
    m_preview->setPixmap(box);
}

void TForm2::showPreview(int row)
{
    const std::optional<FileLocator> file = m_model->locator(row);
    if (!file)
        return;
    const Preview preview = [&] {
        GuiPump pump(m_pumpInterval);
        const FlagScope busy(m_services.session.ResultsBusy);
        return PreviewFile(m_services.session, *file, pump);
    }();
    if (preview.outcome == Preview::Outcome::Icon) {
        m_preview->setPixmap(m_icons.forExtension(QStringLiteral(".JPG")).pixmap(32, 32));
        return;
    }
    if (preview.outcome != Preview::Outcome::Picture)
        return;
    const RgbImage& image = preview.image;
    const QImage picture(image.pixels.data(), image.width, image.height, image.width * 3, QImage::Format_RGB888);
    const Placement place = fitIntoBox(image.width, image.height, kPreviewBox);
    QPixmap box(kPreviewBox, kPreviewBox);
    box.fill(Qt::transparent);
    QPainter painter(&box);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(place.x, place.y, place.width, place.height), picture);
    painter.end();
    m_preview->setPixmap(box);
}

void TForm2::ResizeForm()
{
    int others = 0;
    for (int column = FileListModel::Date; column < FileListModel::ColumnCount; ++column)
        others += m_list->columnWidth(column);
    m_list->setColumnWidth(FileListModel::Name, std::max(0, m_list->width() - others - 24));
}

void TForm2::keyPressEvent(QKeyEvent* event)
{
    // Esc would close the window, and closing it throws away the results of the scan: the window
    // closes only through its Close buttons.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    SkinDialog::keyPressEvent(event);
}

bool TForm2::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list && event->type() == QEvent::Resize)
        ResizeForm();
    // Ctrl+A in the list is Select all, with its wait and without touching the panel.
    if (watched == m_list && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::SelectAll)) {
        SelectLabelClick();
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == m_selectLabel) {
            SelectLabelClick();
            return true;
        }
        if (watched == m_deselectLabel) {
            DeselectLabelClick();
            return true;
        }
    }
    return SkinDialog::eventFilter(watched, event);
}

void TForm2::setSelection(bool selected)
{
    if (busy() || m_model->rowCount() == 0)
        return;
    setFittedText(m_progressLabel, text(m_services.texts, lang::kProcessMessage1));
    m_progressLabel->show();
    {
        const FlagScope busy(m_services.session.ResultsBusy);
        m_list->setFocus();
        QItemSelectionModel* selection = m_list->selectionModel();
        if (selected)
            selection->select(QItemSelection(m_model->index(0, 0),
                                             m_model->index(m_model->rowCount() - 1, FileListModel::ColumnCount - 1)),
                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        else
            selection->clearSelection();
    }
    m_progressLabel->clear();
    m_progressLabel->hide();
}

void TForm2::SelectLabelClick()
{
    setSelection(true);
}

void TForm2::DeselectLabelClick()
{
    setSelection(false);
}

std::vector<FileRow> TForm2::fileRows() const
{
    std::vector<FileRow> rows(static_cast<std::size_t>(m_model->rowCount()));
    for (int row = 0; row < m_model->rowCount(); ++row) {
        rows[static_cast<std::size_t>(row)].name = m_model->fileName(row).toStdU16String();
        rows[static_cast<std::size_t>(row)].locator = m_model->listedLocator(row);
    }
    for (const QItemSelectionRange& range : m_list->selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom() && row < m_model->rowCount(); ++row)
            rows[static_cast<std::size_t>(row)].selected = true;
    return rows;
}

int TForm2::selectedCount() const
{
    int count = 0;
    for (const FileRow& row : fileRows())
        count += row.selected ? 1 : 0;
    return count;
}

void TForm2::askStop(ImageButton* clicked)
{
    // Only the button that reads Stop stops; the others are disabled while it runs.
    if (clicked == m_running && AskConfirmation(lang::kProcessMessage2))
        m_services.session.ResultsBusy = false;
}

void TForm2::setCommandsEnabled(ImageButton* running, bool enabled)
{
    for (ImageButton* button : {m_restore, m_wipe, m_close, m_find})
        if (button != running)
            button->setEnabled(enabled);
    // The rows being restored or wiped stay in view: another folder cannot be chosen meanwhile.
    m_tree->setEnabled(enabled);
}

void TForm2::Button1Click()
{
    if (busy()) {
        askStop(m_restore);
        return;
    }
    // A folder without files (a drive's root) has nothing to choose: said, not passed over in silence.
    if (m_model->rowCount() == 0) {
        ShowInformation(lang::kFileMessage2, std::nullopt);
        return;
    }
    const std::filesystem::path folder = m_services.restoreFolder();
    m_running = m_restore;
    GuiPump pump(m_pumpInterval);
    m_services.session.RestoreStreams = m_services.restoreStreams && m_services.restoreStreams();
    const OperationResult result = RunRestore(m_services.session, fileRows(), m_model->folder(), folder,
                                              m_services.showNote && m_services.showNote(), *this, pump);
    m_running = nullptr;
    if (result.end == OperationResult::End::Ran && m_services.openUrl)
        m_services.openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
}

void TForm2::Button2Click()
{
    if (busy()) {
        askStop(m_wipe);
        return;
    }
    if (m_model->rowCount() == 0) {
        ShowInformation(lang::kFileMessage2, std::nullopt);
        return;
    }
    m_running = m_wipe;
    GuiPump pump(m_pumpInterval);
    RunWipe(m_services.session, fileRows(), m_model->folder(), m_services.osMajorVersion, *this, pump);
    m_running = nullptr;
}

void TForm2::runStarted()
{
    if (m_running == m_wipe)
        m_list->setFocus();
    m_resultLabel->hide();
    m_progressBar->setValue(0);
    m_progressBar->show();
    if (m_running == m_restore) {
        m_progressLabel->clear();
        m_progressLabel->show();
    }
    m_running->setCaptionText(text(m_services.texts, lang::kButtonsStop));
    m_taken = 0;
    m_selected = selectedCount();
    m_stoppedNames.clear();
    m_damagedNames.clear();
    m_encryptedNames.clear();
    m_problemLines.clear();
    m_notWipedNames.clear();
    m_whole = 0;
    setCommandsEnabled(m_running, false);
}

void TForm2::progress(int percent)
{
    const int value = percent * kBarSteps / 100;
    // The bytes of the file being restored may have taken the bar past the row's share already.
    if (value == 0 || value > m_progressBar->value())
        m_progressBar->setValue(value);
}

void TForm2::counter(int done, int selected)
{
    m_selected = selected;
    setFittedText(m_progressLabel,
                  text(m_services.texts, lang::kFileFile) + QLatin1Char(' ') + QString::number(done) +
                      QLatin1Char('/') + QString::number(selected));
}

void TForm2::fileProgress(std::int64_t written, std::int64_t size)
{
    // The files done and the part of this one, over the files selected: one large file moves the
    // bar as its bytes are written.
    const int selected = std::max(1, m_selected);
    if (size <= 0)
        return;
    const double part = std::min(1.0, static_cast<double>(written) / static_cast<double>(size));
    const int value = static_cast<int>((m_taken + part) * kBarSteps / selected);
    if (value > m_progressBar->value())
        m_progressBar->setValue(std::min(value, kBarSteps));
}

void TForm2::fileRestored(const std::u16string& folder, const std::u16string& name, const RestoreOutcome& outcome)
{
    Q_UNUSED(folder);
    ++m_taken;
    using Status = RestoreOutcome::Status;
    switch (outcome.status) {
    case Status::Restored: ++m_whole; break;
    case Status::Damaged: m_damagedNames.push_back(qs(name)); break;
    case Status::Encrypted: m_encryptedNames.push_back(qs(name)); break;
    case Status::Stopped: m_stoppedNames.push_back(qs(name)); break;
    case Status::Skipped:
    case Status::Failed: m_problemLines.push_back(problemText(m_services.texts, qs(name), outcome)); break;
    }
}

void TForm2::fileNotWiped(const std::u16string& name, const std::string& reason)
{
    Q_UNUSED(reason);
    m_notWipedNames.push_back(qs(name));
}

bool TForm2::askRestoreInto(const std::filesystem::path& folder)
{
    return m_services.ask &&
        m_services.ask(text(m_services.texts, lang::kFileMessage7) + QLatin1Char('\n') +
                       text(m_services.texts, lang::kFileRestoreInto) + QLatin1Char(' ') +
                       QString::fromStdString(folder.string()));
}

QString TForm2::restoreSummary(int done) const
{
    if (m_stoppedNames.isEmpty() && m_damagedNames.isEmpty() && m_encryptedNames.isEmpty() && m_problemLines.isEmpty())
        return QString::number(done) + QLatin1Char(' ') + text(m_services.texts, lang::kFileMessage14);
    QStringList lines{QString::number(m_whole) + QLatin1Char(' ') + text(m_services.texts, lang::kRestoredWhole)};
    const std::pair<const LanguageText*, const QStringList*> groups[] = {
        {&lang::kRestoredStopped, &m_stoppedNames},
        {&lang::kRestoredDamaged, &m_damagedNames},
        {&lang::kRestoredEncrypted, &m_encryptedNames},
    };
    for (const auto& [title, list] : groups)
        if (!list->isEmpty())
            lines << text(m_services.texts, *title) + QLatin1Char(' ') + listedNames(*list);
    // Each file that was not written says why, the first few of them.
    lines << m_problemLines.mid(0, kNamesListed);
    if (m_problemLines.size() > kNamesListed)
        lines << QStringLiteral("\u2026 (+") + QString::number(m_problemLines.size() - kNamesListed) + QLatin1Char(')');
    return lines.join(QLatin1Char('\n'));
}

void TForm2::runFinished()
{
    m_progressBar->hide();
    m_resultLabel->show();
    m_progressLabel->clear();
    m_progressLabel->hide();
    m_running->setCaptionText(
        text(m_services.texts, m_running == m_restore ? lang::kButtonsRestore : lang::kButtonsWipe));
    setCommandsEnabled(m_running, true);
    DeselectLabelClick();
}

void TForm2::FindButtonClick()
{
    if (busy())
        return;
    const std::u16string field = m_findEdit->text().toStdU16String();
    const FindResult found = [&] {
        GuiPump pump(m_pumpInterval);
        const FlagScope busy(m_services.session.ResultsBusy);
        return FindNextFolder(m_services.session.store, field, FindCursor, pump);
    }();
    switch (found.outcome) {
    case FindResult::Outcome::EmptyField: ShowInformation(lang::kFileMessage11, std::nullopt); return;
    case FindResult::Outcome::BadMask:
        if (m_services.inform)
            m_services.inform(maskFaultText(m_services.texts, field));
        return;
    case FindResult::Outcome::NotFound: ShowInformation(lang::kFileMessage16, std::nullopt); return;
    case FindResult::Outcome::NoFurther:
        // Past the last folder with a match nothing is selected; the next search starts over.
        return;
    case FindResult::Outcome::Found: break;
    }
    QTreeWidgetItem* root = m_tree->topLevelItem(0);
    if (!root)
        return;
    const auto node = walkToFolder(
        root, found.section, [](QTreeWidgetItem* item) { return item->text(0).toStdU16String(); },
        [](QTreeWidgetItem* item) {
            std::vector<QTreeWidgetItem*> children;
            for (int i = 0; i < item->childCount(); ++i)
                children.push_back(item->child(i));
            return children;
        });
    if (!node)
        return;
    for (QTreeWidgetItem* up = (*node)->parent(); up; up = up->parent())
        up->setExpanded(true);
    if (m_tree->currentItem() == *node)
        DListChange(*node);
    else
        m_tree->setCurrentItem(*node);
    m_tree->scrollToItem(*node);
}

void TForm2::closeEvent(QCloseEvent* event)
{
    if (busy()) {
        event->ignore();
        return;
    }
    // The results are gone with the window: a new Find is needed to see them again.
    m_model->showFolder({});
    clearPanel();
    m_tree->clear();
    m_nodes.clear();
    m_services.session.store.clear();
    SkinDialog::closeEvent(event);
}

bool TForm2::AskConfirmation(const LanguageText& question)
{
    const bool wipe = question.section == lang::kFileMessage9.section && question.key == lang::kFileMessage9.key;
    if (wipe && m_services.askDefaultNo)
        return m_services.askDefaultNo(text(m_services.texts, question));
    return m_services.ask && m_services.ask(text(m_services.texts, question));
}

void TForm2::ShowInformation(const LanguageText& message, std::optional<int> count)
{
    // The end of a restore counts the files restored whole and names those that are not.
    const bool restoreEnd =
        count && message.section == lang::kFileMessage14.section && message.key == lang::kFileMessage14.key;
    const bool wipeEnd =
        count && message.section == lang::kFileMessage10.section && message.key == lang::kFileMessage10.key;
    QString line = restoreEnd ? restoreSummary(*count)
        : count               ? QString::number(*count) + QLatin1Char(' ') + text(m_services.texts, message)
                              : text(m_services.texts, message);
    if (wipeEnd && !m_notWipedNames.isEmpty())
        line += QLatin1Char('\n') + text(m_services.texts, lang::kFileNotWiped) + QLatin1Char(' ') +
            listedNames(m_notWipedNames);
    if (m_services.inform)
        m_services.inform(line);
}

void TForm2::ShowProblem(const std::string& message)
{
    // The failure that ended a restore is named, in the user's language, by the summary that follows.
    if (!m_problemLines.isEmpty())
        return;
    if (m_services.inform)
        m_services.inform(QString::fromStdString(message));
}

void TForm2::ShowImportantNotice()
{
    if (m_services.importantNotice)
        m_services.importantNotice();
}

} // namespace orv::ui
