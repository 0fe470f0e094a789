#include "ContentView.h"

#include "App/ReadingText.h"
#include "Panel.h"
#include "Spinner.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Title 2 beside the body text, as the platform's type scale has it.
constexpr qreal title2Scale = 17.0 / 13.0;

QLabel* wrappingLabel(QWidget* parent, const QString& name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setForeground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QString verbatim(const std::string& text) {
    return QString::fromStdString(text);
}

// Filled with the tint, as a prominent bordered button is; the focus darkens its edge.
QString prominentStyle(const QColor& fill, const QColor& text, const Colours& colours) {
    return QStringLiteral("QPushButton { background-color: %1; color: %2; border: 1px solid %1;"
                          " border-radius: 6px; padding: 4px 10px; }"
                          "QPushButton:focus { border-color: %5; }"
                          "QPushButton:pressed { background-color: %6; }"
                          "QPushButton:disabled { background-color: %3; color: %4;"
                          " border-color: %3; }")
        .arg(fill.name(QColor::HexArgb), text.name(QColor::HexArgb),
             colours.disabledFill.name(QColor::HexArgb), colours.disabledText.name(QColor::HexArgb),
             fill.darker(160).name(QColor::HexArgb), fill.darker(115).name(QColor::HexArgb));
}

} // namespace

ContentView::ContentView(std::shared_ptr<PluginManager> manager, std::filesystem::path resources,
                         QWidget* parent)
    : QWidget(parent), manager_(std::move(manager)), artwork_(std::move(resources)),
      colours_(coloursFor(palette())) {
    build();
    observation_ = manager_->observe([this](PluginManager::Property) { scheduleEvaluation(); });
    applyColours();
    evaluate();
}

ContentView::~ContentView() {
    manager_->unobserve(observation_);
}

void ContentView::build() {
    auto* root = new QVBoxLayout(this);
    root->setSpacing(18);
    root->setContentsMargins(padding, padding, padding, padding);

    // Header: the app's icon, its name and the service's status.
    auto* titleColumn = new QWidget(this);
    auto* titles = new QVBoxLayout(titleColumn);
    titles->setContentsMargins(0, 0, 0, 0);
    titles->setSpacing(3);
    title_ = new QLabel(tr("Corvane Plugin"), titleColumn);
    QFont titleFont = title_->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * title2Scale);
    titleFont.setBold(true);
    title_->setFont(titleFont);
    titles->addWidget(title_);
    statusText_ = new QLabel(titleColumn);
    statusText_->setObjectName("status");
    statusRow_ = new Panel(statusText_, {}, titleColumn);
    statusRow_->setDecoration({8, 8}, 6, Panel::Alignment::centre, [this](QPainter& p, QRectF r) {
        p.setPen(Qt::NoPen);
        p.setBrush(manager_->status() == ServiceStatus::enabled ? colours_.green : colours_.red);
        p.drawEllipse(r);
    });
    titles->addWidget(statusRow_);
    auto* header = new Panel(titleColumn, {}, this);
    header->setDecoration({42, 42}, 12, Panel::Alignment::centre,
                          [this](QPainter& p, QRectF r) { artwork_.paint(p, r, "CorvaneIcon"); });
    root->addWidget(header);

    auto* installedText = wrappingLabel(this, "installedText");
    installedText->setText(
        verbatim("Plugin installed. You may close this app and view the new data in Corvane."));
    installedNotice_ = noticeBanner(installedText, "checkmark.circle.fill", &colours_.green);
    installedNotice_->setObjectName("installedNotice");
    root->addWidget(installedNotice_);

    // The readings grid hugs its content, leading.
    auto* readings = new QWidget(this);
    auto* grid = new QGridLayout(readings);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(20);
    grid->setVerticalSpacing(8);
    for (std::size_t row = 0; row < rowLabels_.size(); ++row) {
        rowLabels_[row] = new QLabel(readings);
        rowValues_[row] = new QLabel(readings);
        rowValues_[row]->setObjectName(QStringLiteral("value%1").arg(row));
        rowLabels_[row]->setBuddy(rowValues_[row]);
        grid->addWidget(rowLabels_[row], int(row), 0, Qt::AlignLeft);
        grid->addWidget(rowValues_[row], int(row), 1, Qt::AlignLeft);
    }
    grid_ = new Panel(readings, {12, 12, 12, 12}, this);
    grid_->setObjectName("readings");
    grid_->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    root->addWidget(grid_, 0, Qt::AlignLeft);

    intro_ = wrappingLabel(this, "intro");
    intro_->setText(tr("Add GPU, fan and temperature data to Corvane."));
    root->addWidget(intro_);

    message_ = wrappingLabel(this, "message");
    warning_ = noticeBanner(message_, "exclamationmark.triangle.fill", &colours_.red);
    warning_->setObjectName("warning");
    root->addWidget(warning_);

    auto* removalText = wrappingLabel(this, "removalText");
    removalText->setText(verbatim("Background service removed. To fully remove Corvane Plugin, "
                                  "move the app from Applications to Trash."));
    removal_ = noticeBanner(removalText, "checkmark.circle.fill", &colours_.green);
    removal_->setObjectName("removal");
    root->addWidget(removal_);

    root->addWidget(controls());
}

Panel* ContentView::noticeBanner(QLabel* text, const QString& symbol, const QColor* colour) {
    auto* banner = new Panel(text, {12, 12, 12, 12}, this);
    int side = text->fontMetrics().height();
    banner->setDecoration(
        {side, side}, 8, Panel::Alignment::firstLine,
        [this, symbol, colour](QPainter& p, QRectF r) { artwork_.paint(p, r, symbol, *colour); });
    return banner;
}

QWidget* ContentView::controls() {
    auto* controls = new QWidget(this);
    auto* rows = new QVBoxLayout(controls);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(18);
    auto row = [&](QPushButton* button, Spinner*& spinner, const char* spinnerName) {
        auto* widget = new QWidget(controls);
        auto* layout = new QHBoxLayout(widget);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(button, 0, Qt::AlignVCenter);
        spinner = new Spinner(widget);
        spinner->setObjectName(spinnerName);
        layout->addWidget(spinner, 0, Qt::AlignVCenter);
        layout->addStretch();
        rows->addWidget(widget);
        return widget;
    };
    refresh_ = button(tr("Refresh"), &PluginManager::refreshSnapshot);
    refresh_->setObjectName("refresh");
    refreshRow_ = row(refresh_, refreshSpinner_, "refreshSpinner");
    uninstall_ = button(tr("Uninstall"), &PluginManager::uninstall);
    uninstall_->setObjectName("uninstall");
    uninstallRow_ = row(uninstall_, uninstallSpinner_, "uninstallSpinner");
    install_ = button(tr("Install"), &PluginManager::install);
    install_->setObjectName("install");
    installRow_ = row(install_, installSpinner_, "installSpinner");
    return controls;
}

QPushButton* ContentView::button(const QString& title, void (PluginManager::*operation)()) {
    auto* button = new QPushButton(title, this);
    button->setAccessibleName(title);
    int side = button->fontMetrics().height();
    button->setIconSize({side, side});
    connect(button, &QPushButton::clicked, this, [this, operation] { (*manager_.*operation)(); });
    return button;
}

void ContentView::applyColours() {
    colours_ = coloursFor(palette());
    setForeground(statusText_, colours_.secondary);
    setForeground(intro_, colours_.secondary);
    for (QLabel* label : rowLabels_)
        setForeground(label, colours_.secondary);
    grid_->setFill(withOpacity(colours_.quaternary, 0.5));
    for (Panel* banner : {installedNotice_, warning_, removal_})
        banner->setFill(withOpacity(banner == warning_ ? colours_.red : colours_.green, 0.12));

    QColor buttonText = refresh_->palette().color(QPalette::ButtonText);
    refresh_->setIcon(
        artwork_.icon("arrow.clockwise", buttonText,
                      refresh_->palette().color(QPalette::Disabled, QPalette::ButtonText)));
    uninstall_->setStyleSheet(prominentStyle(colours_.red, Qt::white, colours_));
    uninstall_->setIcon(artwork_.icon("minus.circle", Qt::white, colours_.disabledText));
    install_->setStyleSheet(prominentStyle(colours_.accent, colours_.onAccent, colours_));
    install_->setIcon(artwork_.icon("plus.circle", colours_.onAccent, colours_.disabledText));
}

void ContentView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && title_) {
        applyColours();
        scheduleEvaluation();
    }
}

void ContentView::scheduleEvaluation() {
    if (evaluationPending_)
        return;
    evaluationPending_ = true;
    QMetaObject::invokeMethod(this, &ContentView::evaluate, Qt::QueuedConnection);
}

void ContentView::evaluate() {
    evaluationPending_ = false;
    const PluginManager& manager = *manager_;
    bool installed = manager.status() == ServiceStatus::enabled;
    statusText_->setText(installed ? tr("Service installed.") : tr("Service not installed."));
    statusRow_->update();
    installedNotice_->setVisible(installed);

    const auto& snapshot = manager.snapshot();
    grid_->setVisible(snapshot.has_value());
    intro_->setVisible(!snapshot);
    if (snapshot) {
        auto rows = readingRows(*snapshot);
        for (std::size_t row = 0; row < rows.size(); ++row) {
            QString value = verbatim(rows[row].value.value_or("Not available"));
            rowLabels_[row]->setText(verbatim(rows[row].label));
            rowLabels_[row]->setAccessibleName(rowLabels_[row]->text());
            rowValues_[row]->setText(value);
            rowValues_[row]->setAccessibleName(value);
        }
    }

    warning_->setVisible(manager.message().has_value());
    message_->setText(verbatim(manager.message().value_or("")));
    removal_->setVisible(manager.showRemovalInstructions());

    bool busy = manager.isRefreshing() || manager.isWorking();
    refreshRow_->setVisible(installed);
    uninstallRow_->setVisible(installed);
    installRow_->setVisible(!installed);
    refresh_->setEnabled(!busy);
    uninstall_->setEnabled(!busy);
    install_->setEnabled(!manager.isWorking());
    refreshSpinner_->setVisible(manager.isRefreshing());
    uninstallSpinner_->setVisible(manager.isWorking());
    installSpinner_->setVisible(manager.isWorking());

    // Innermost layouts first, so each container measures its content's new texts; the
    // width is fixed and the height follows the content, so nothing is ever cut off.
    const auto layouts = findChildren<QLayout*>();
    for (auto inner = layouts.rbegin(); inner != layouts.rend(); ++inner)
        (*inner)->activate();
    setFixedSize(fixedWidth, heightForWidth(fixedWidth));
}
