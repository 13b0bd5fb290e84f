#include "ResultsWindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <unordered_map>

#include "JpegPreview.h"
#include "MessageDialogs.h"
#include "Product.h"

namespace orv::ui {

namespace {

constexpr int kSectionRole = Qt::UserRole;
constexpr int kMinimumTreeWidth = 170;
constexpr int kMinimumListWidth = 400;
constexpr int kPreviewBox = 48;

QString qs(const std::u16string& text)
{
    return QString::fromStdU16String(text);
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

} // namespace

TForm2::TForm2(ResultsServices services) : m_services(std::move(services))
{
    setObjectName(QStringLiteral("TForm2"));
    setWindowFlag(Qt::WindowMinimizeButtonHint);
    const LanguageCatalogue& texts = m_services.texts;
    resize(705, 559);

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* options = makeButton(this, "TopButton1", text(texts, lang::kButtonsOptions));
    auto* help = makeButton(this, "TopButton2", text(texts, lang::kButtonsHelp));
    auto* about = makeButton(this, "TopButton3", text(texts, lang::kAboutAbout));
    auto* minimize = makeButton(this, "TopButton4", text(texts, lang::kButtonsMinimize));
    top->addStretch();
    top->addWidget(options);
    top->addWidget(help);
    top->addWidget(about);
    top->addWidget(minimize);
    // Help and Minimise also work while an operation runs; they start nothing.
    connect(help, &QPushButton::clicked, this, [this] {
        if (m_services.help)
            m_services.help();
    });
    connect(minimize, &QPushButton::clicked, this, &QWidget::showMinimized);
    layout->addLayout(top);
    connect(options, &QPushButton::clicked, this, [this] {
        if (!ResultsBusy && m_services.options)
            m_services.options();
    });
    connect(about, &QPushButton::clicked, this, [this] {
        if (!ResultsBusy && m_services.about)
            m_services.about();
    });

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_tree = new QTreeWidget(m_splitter);
    m_tree->setObjectName(QStringLiteral("DList"));
    m_tree->setHeaderHidden(true);
    m_tree->setMinimumWidth(kMinimumTreeWidth);
    m_list = new QTableView(m_splitter);
    m_list->setObjectName(QStringLiteral("FList"));
    m_list->setMinimumWidth(kMinimumListWidth);
    m_model = new FileListModel(m_services.session, texts, this);
    m_list->setModel(m_model);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setDefaultSectionSize(20);
    m_list->setShowGrid(false);
    m_list->setWordWrap(false);
    // Fixed widths: measuring the contents would read every row of a large folder.
    m_list->horizontalHeader()->setSectionResizeMode(FileListModel::Name, QHeaderView::Stretch);
    m_list->setColumnWidth(FileListModel::Date, 78);
    m_list->setColumnWidth(FileListModel::Time, 66);
    m_list->setColumnWidth(FileListModel::Size, 80);
    m_list->setColumnWidth(FileListModel::Recoverability, 100);
    m_list->horizontalHeader()->setSectionsClickable(true);
    m_splitter->addWidget(m_tree);
    m_splitter->addWidget(m_list);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({200, 500});
    layout->addWidget(m_splitter, 1);

    // The information panel: the current file's name, size and grade beside its preview.
    auto* panel = new QHBoxLayout;
    m_preview = new QLabel(this);
    m_preview->setObjectName(QStringLiteral("PreviewImage"));
    m_preview->setFixedSize(kPreviewBox, kPreviewBox);
    panel->addWidget(m_preview);
    auto* facts = new QVBoxLayout;
    m_nameLabel = new QLabel(this);
    m_nameLabel->setObjectName(QStringLiteral("NameLabel"));
    m_sizeLabel = new QLabel(this);
    m_sizeLabel->setObjectName(QStringLiteral("SizeLabel"));
    m_gradeLabel = new QLabel(this);
    m_gradeLabel->setObjectName(QStringLiteral("GradeLabel"));
    facts->addWidget(m_nameLabel);
    facts->addWidget(m_sizeLabel);
    facts->addWidget(m_gradeLabel);
    panel->addLayout(facts, 1);
    auto* progress = new QVBoxLayout;
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar"));
    m_progress->setRange(0, 100);
    m_progress->hide();
    m_counter = new QLabel(this);
    m_counter->setObjectName(QStringLiteral("ProgressLabel"));
    m_counter->hide();
    progress->addWidget(m_progress);
    progress->addWidget(m_counter);
    panel->addLayout(progress, 1);
    layout->addLayout(panel);

    auto* find = new QHBoxLayout;
    find->addWidget(new QLabel(text(texts, lang::kButtonsFindInResults), this));
    m_findEdit = new QLineEdit(this);
    m_findEdit->setObjectName(QStringLiteral("FindEdit"));
    find->addWidget(m_findEdit, 1);
    m_find = makeButton(this, "FindButton", text(texts, lang::kButtonsFind));
    find->addWidget(m_find);
    m_selectAll = makeButton(this, "SelectAll", text(texts, lang::kMenuItemsCheckAll));
    m_deselectAll = makeButton(this, "DeselectAll", text(texts, lang::kMenuItemsUnCheckAll));
    find->addWidget(m_selectAll);
    find->addWidget(m_deselectAll);
    layout->addLayout(find);

    auto* commands = new QHBoxLayout;
    m_restore = makeButton(this, "Button1", text(texts, lang::kButtonsRestore));
    m_wipe = makeButton(this, "Button2", text(texts, lang::kButtonsWipe));
    m_close = makeButton(this, "Button3", text(texts, lang::kButtonsClose));
    commands->addWidget(m_restore);
    commands->addWidget(m_wipe);
    commands->addStretch();
    commands->addWidget(m_close);
    layout->addLayout(commands);

    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) {
        if (!ResultsBusy)
            showFolder(node);
    });
    connect(m_tree, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* node) { node->setIcon(0, m_icons.forExtension(QStringLiteral(".Dir"))); });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { currentRowChanged(current.row()); });
    connect(m_list->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (!ResultsBusy)
            m_model->sort(column, Qt::AscendingOrder);
    });
    connect(m_selectAll, &QPushButton::clicked, this, [this] { SelectAll(true); });
    connect(m_deselectAll, &QPushButton::clicked, this, [this] { SelectAll(false); });
    connect(m_restore, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(m_wipe, &QPushButton::clicked, this, &TForm2::Button2Click);
    connect(m_find, &QPushButton::clicked, this, &TForm2::FindClick);
    connect(m_findEdit, &QLineEdit::returnPressed, this, &TForm2::FindClick);
    connect(m_close, &QPushButton::clicked, this, &TForm2::close);
}

TForm2::~TForm2() = default;

void TForm2::run()
{
    setWindowTitle(QString::fromUtf8(kProductName.data(), static_cast<int>(kProductName.size())) +
                   QStringLiteral(" - ") + text(m_services.texts, lang::kProcessFound) + QLatin1Char(' ') +
                   QString::number(m_services.session.FilesFound));
    ShowForm();
    exec();
    // The results are gone with the window: a new Find is needed to see them again.
    m_model->showFolder({});
    m_tree->clear();
    m_services.session.store.clear();
}

void TForm2::ShowForm()
{
    ResultsBusy = true;
    m_tree->clear();
    FindCursor = -1;
    const QIcon folder = m_icons.forExtension(QStringLiteral(".Dir"));
    // Nodes by their folded path, so a store of many folders builds its tree in one pass.
    std::unordered_map<std::u16string, QTreeWidgetItem*> nodes;
    for (const std::u16string& section : m_services.session.store.sections()) {
        std::u16string path;
        QTreeWidgetItem* parent = nullptr;
        std::size_t start = 0;
        while (start < section.size()) {
            std::size_t end = section.find(u'\\', start);
            if (end == std::u16string::npos)
                end = section.size();
            const std::u16string name = section.substr(start, end - start);
            path += name + u"\\";
            start = end + 1;
            if (name.empty())
                continue;
            const std::u16string folded = ResultsStore::fold(path);
            auto found = nodes.find(folded);
            if (found == nodes.end()) {
                auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_tree);
                node->setText(0, qs(name));
                node->setIcon(0, folder);
                node->setData(0, kSectionRole, qs(path));
                found = nodes.emplace(folded, node).first;
            }
            parent = found->second;
        }
    }
    if (QTreeWidgetItem* root = m_tree->topLevelItem(0))
        root->setExpanded(true);
    ResultsBusy = false;
    if (QTreeWidgetItem* root = m_tree->topLevelItem(0))
        m_tree->setCurrentItem(root);
}

void TForm2::showFolder(QTreeWidgetItem* node)
{
    ResultsBusy = true;
    m_model->showFolder(node ? node->data(0, kSectionRole).toString().toStdU16String() : std::u16string());
    ResultsBusy = false;
    m_nameLabel->clear();
    m_sizeLabel->clear();
    m_gradeLabel->clear();
    m_preview->clear();
    if (m_model->rowCount() > 0)
        m_list->setCurrentIndex(m_model->index(0, FileListModel::Name));
}

void TForm2::currentRowChanged(int row)
{
    if (ResultsBusy)
        return;
    m_preview->clear();
    if (row < 0 || row >= m_model->rowCount()) {
        m_nameLabel->clear();
        m_sizeLabel->clear();
        m_gradeLabel->clear();
        return;
    }
    const auto cell = [&](int column, int role = Qt::DisplayRole) {
        return m_model->data(m_model->index(row, column), role);
    };
    const QString name = m_model->fileName(row);
    m_nameLabel->setText(text(m_services.texts, lang::kFileFile) + QStringLiteral(": ") + name);
    const qlonglong size = cell(FileListModel::Size, FileListModel::SortRole).toLongLong();
    m_sizeLabel->setText(text(m_services.texts, lang::kFileSize) + QStringLiteral(": ") + sizeText(size));
    m_gradeLabel->setText(text(m_services.texts, lang::kFileRecoverability) + QStringLiteral(": ") +
                          cell(FileListModel::Recoverability).toString());
    if (size == 0)
        return;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QStringLiteral(".") : name.mid(dot);
    if (extension.toUpper() == QLatin1String(".JPG"))
        showPreview(row);
    else
        m_preview->setPixmap(m_icons.forExtension(extension).pixmap(kPreviewBox, kPreviewBox));
}

void TForm2::showPreview(int row)
{
    const std::optional<std::int64_t> offset = m_model->recordOffset(row);
    if (!offset)
        return;
    GuiPump pump(m_pumpInterval);
    ResultsBusy = true;
    const Preview preview = PreviewFileNTFS(m_services.session, *offset, pump);
    ResultsBusy = false;
    if (preview.outcome == Preview::Outcome::Icon) {
        m_preview->setPixmap(m_icons.forExtension(QStringLiteral(".JPG")).pixmap(kPreviewBox, kPreviewBox));
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

void TForm2::SelectAll(bool selected)
{
    if (ResultsBusy)
        return;
    m_model->setAllSelected(selected);
}

void TForm2::askStop(QPushButton* clicked)
{
    // Only the button that reads Stop stops; the other one waits for the operation to end.
    if (clicked == m_running && AskConfirmation(lang::kProcessMessage2))
        ResultsBusy = false;
}

void TForm2::startOperation(QPushButton* button)
{
    m_running = button;
    // The rows being restored or wiped stay in view: another folder cannot be chosen meanwhile.
    m_tree->setEnabled(false);
    button->setText(text(m_services.texts, lang::kButtonsStop));
    m_progress->setValue(0);
}

void TForm2::endOperation(QPushButton* button, const LanguageText& caption)
{
    m_running = nullptr;
    m_tree->setEnabled(true);
    button->setText(text(m_services.texts, caption));
    m_progress->hide();
    m_counter->clear();
    m_counter->hide();
}

void TForm2::Button1Click()
{
    if (ResultsBusy) {
        askStop(m_restore);
        return;
    }
    const std::filesystem::path folder = m_services.restoreFolder();
    startOperation(m_restore);
    GuiPump pump(m_pumpInterval);
    const OperationResult result = RunRestore(m_services.session, ResultsBusy, m_model->fileRows(), m_model->folder(),
                                              folder, m_services.showNote(), *this, pump);
    endOperation(m_restore, lang::kButtonsRestore);
    if (result.end == OperationResult::End::Ran && result.done > 0 && m_services.openUrl)
        m_services.openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
}

void TForm2::Button2Click()
{
    if (ResultsBusy) {
        askStop(m_wipe);
        return;
    }
    startOperation(m_wipe);
    GuiPump pump(m_pumpInterval);
    const OperationResult result = RunWipe(m_services.session, ResultsBusy, m_model->fileRows(), m_model->folder(),
                                           m_services.osMajorVersion, *this, pump);
    endOperation(m_wipe, lang::kButtonsWipe);
    // Wiped files are gone from the store: the folder is listed again without them.
    if (result.end == OperationResult::End::Ran)
        showFolder(m_tree->currentItem());
}

void TForm2::FindClick()
{
    if (ResultsBusy)
        return;
    GuiPump pump(m_pumpInterval);
    const std::u16string field = m_findEdit->text().toStdU16String();
    ResultsBusy = true;
    FindResult found = FindNextFolder(m_services.session.store, field, FindCursor, pump);
    // Past the last folder with a match the search goes round to the first one.
    if (found.outcome == FindResult::Outcome::NoFurther)
        found = FindNextFolder(m_services.session.store, field, FindCursor, pump);
    ResultsBusy = false;
    switch (found.outcome) {
    case FindResult::Outcome::EmptyField:
        ShowInformation(lang::kFileMessage11, std::nullopt);
        return;
    case FindResult::Outcome::BadMask:
        ShowProblem(found.maskError);
        return;
    case FindResult::Outcome::NotFound:
    case FindResult::Outcome::NoFurther:
        ShowInformation(lang::kFileMessage16, std::nullopt);
        return;
    case FindResult::Outcome::Found:
        break;
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
        showFolder(*node);
    else
        m_tree->setCurrentItem(*node);
    m_tree->scrollToItem(*node);
}

void TForm2::closeEvent(QCloseEvent* event)
{
    if (ResultsBusy) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TForm2::reject()
{
    if (!ResultsBusy)
        QDialog::reject();
}

bool TForm2::AskConfirmation(const LanguageText& question)
{
    return m_services.ask && m_services.ask(text(m_services.texts, question));
}

void TForm2::ShowInformation(const LanguageText& message, std::optional<int> count)
{
    const QString line = count ? QString::number(*count) + QLatin1Char(' ') + text(m_services.texts, message)
                               : text(m_services.texts, message);
    if (m_services.inform)
        m_services.inform(line);
}

void TForm2::ShowProblem(const std::string& message)
{
    if (m_services.inform)
        m_services.inform(QString::fromStdString(message));
}

void TForm2::ShowImportantNotice()
{
    if (m_services.importantNotice)
        m_services.importantNotice();
}

void TForm2::progress(int percent)
{
    m_progress->show();
    m_progress->setValue(percent);
}

void TForm2::counter(int done, int selected)
{
    m_counter->show();
    m_counter->setText(text(m_services.texts, lang::kFileFile) + QLatin1Char(' ') + QString::number(done) +
                       QLatin1Char('/') + QString::number(selected));
}

} // namespace orv::ui
