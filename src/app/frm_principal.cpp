#include "app/frm_principal.h"

#include "about/frm_about.h"
#include "ui/icons.h"
#include "ui/twips_layout.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QCloseEvent>
#include <QDir>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionGroupBox>
#include <QStylePainter>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace melofon::app {

namespace {

// A frame whose caption alone is teal: a palette change would colour every child label,
// and a style sheet would stop the window's font from reaching the children.
class Frame : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionGroupBox option;
        initStyleOption(&option);
        // Styles differ in which of the two they draw the caption with.
        const QColor teal(0, 64, 64);
        option.textColor = teal;
        option.palette.setColor(QPalette::WindowText, teal);
        painter.drawComplexControl(QStyle::CC_GroupBox, option);
    }
};

QGroupBox* frame(QWidget* parent, const char* name, const QRect& geometry, const QString& caption) {
    return place<Frame>(parent, name, geometry, caption);
}

QToolButton* pictureButton(QWidget* parent, const char* name, const QRect& geometry,
                           const QString& caption, const QIcon& icon, const QString& tip = {}) {
    auto* b = place<QToolButton>(parent, name, geometry);
    b->setText(caption);
    b->setIcon(icon);
    b->setIconSize(QSize(32, 32));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setToolTip(tip);
    return b;
}

// Transport buttons, scroll bars, list boxes and the text box have no caption, so they carry
// a name for screen readers instead.
QToolButton* transportButton(QWidget* parent, const char* name, const QRect& geometry, Glyph glyph,
                             const QString& accessibleName, const QString& tip = {}) {
    auto* b = place<QToolButton>(parent, name, geometry);
    b->setAccessibleName(accessibleName);
    const int glyphSize = geometry.height() >= 28 ? 16 : 11;
    b->setIcon(transportIcon(glyph, glyphSize));
    b->setIconSize(QSize(glyphSize, glyphSize));
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    b->setToolTip(tip);
    return b;
}

QCheckBox* checkBox(QWidget* parent, const char* name, const QRect& geometry, const QString& caption,
                    const QString& tip, bool checked) {
    auto* c = place<QCheckBox>(parent, name, geometry, caption);
    c->setToolTip(tip);
    c->setChecked(checked);
    return c;
}

// Impact where it is installed; it is not free, so otherwise a condensed bold face.
QFont timeFont() {
    QFont font;
    if (QFontDatabase::hasFamily(QStringLiteral("Impact"))) {
        font.setFamily(QStringLiteral("Impact"));
    } else {
        font.setFamily(QStringLiteral("DejaVu Sans Condensed"));
        font.setBold(true);
    }
    font.setPointSizeF(8.25);
    return font;
}

QLabel* timeLabel(QWidget* parent, const char* name, const QRect& geometry, const QString& text,
                  const QColor& color) {
    auto* l = place<QLabel>(parent, name, geometry, text);
    l->setFont(timeFont());
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
    return l;
}

QScrollBar* scrollBar(QWidget* parent, const char* name, const QRect& geometry,
                      const QString& accessibleName) {
    auto* s = place<QScrollBar>(parent, name, geometry, Qt::Horizontal);
    s->setAccessibleName(accessibleName);
    s->setFocusPolicy(Qt::StrongFocus);
    return s;
}

ListBoxWidget* listBox(QWidget* parent, const char* name, const QRect& geometry, bool checkBoxes,
                       const QString& accessibleName) {
    auto* l = place<ListBoxWidget>(parent, name, geometry, checkBoxes);
    l->setAccessibleName(accessibleName);
    QPalette pal = l->palette();
    pal.setColor(QPalette::Base, QColor(224, 224, 224));
    l->setPalette(pal);
    return l;
}

} // namespace

frmPrincipal::frmPrincipal(store::PlaylistStore& store, playback::MediaPlayer& player,
                           const editing::Dialogs& dialogs, const QString& programDir,
                           std::function<void()> endProgram, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      mpReproductor(player), cmExplorar(dialogs.cmExplorar), store_(store), programDir_(programDir),
      messages_(dialogs.messages), input_(dialogs.input), endProgram_(std::move(endProgram)) {
    setObjectName(QStringLiteral("frmPrincipal"));
    setWindowTitle(QStringLiteral("Melofon"));
    setWindowIcon(melofonIcon());
    // The layout was drawn for a narrow 8.25-point face; the default face would clip
    // captions such as "Volumen:".
    QFont captions = font();
    if (QFontDatabase::hasFamily(QStringLiteral("DejaVu Sans Condensed")))
        captions.setFamily(QStringLiteral("DejaVu Sans Condensed"));
    captions.setPointSizeF(8.25);
    setFont(captions);
    resize(632, 453);
    buildControls();
    playback_ = std::make_unique<playback::PlaybackController>(
        mpReproductor, playback::PlaybackController::Controls{*lstContenido, *lstListas,
                                                              [this] { return chkTodas->isChecked(); },
                                                              [this] { return chkAleatorio->isChecked(); },
                                                              [this] { return chkContinuado->isChecked(); },
                                                              Detenido});
    connectEvents();
    guarded([this] { Form_Initialize(); });
}

frmPrincipal::~frmPrincipal() = default;

void frmPrincipal::buildControls() {
    fraInformación = frame(this, "fraInformación", twips(0, 0, 9495, 735), QStringLiteral("Información"));
    QWidget* info = fraInformación;
    lblTiempo = place<QLabel>(info, "lblTiempo", twips(240, 360, 615, 255), QStringLiteral("Tiempo:"));
    hsTiempo = scrollBar(info, "hsTiempo", twips(960, 360, 1815, 255),
                         QStringLiteral("Posición de la reproducción"));
    const QColor green(0, 128, 0);
    const QColor darkRed(192, 0, 0);
    lblMinTranscurridos = timeLabel(info, "lblMinTranscurridos", twips(2880, 360, 255, 255), QStringLiteral("00"), green);
    lblSeparador = timeLabel(info, "lblSeparador", twips(3200, 360, 135, 255), QStringLiteral(":"), green);
    lblSegTranscurridos = timeLabel(info, "lblSegTranscurridos", twips(3360, 360, 255, 255), QStringLiteral("00"), green);
    lblMinDuracion = timeLabel(info, "lblMinDuracion", twips(3720, 360, 255, 255), QStringLiteral("00"), darkRed);
    lblSeparador2 = timeLabel(info, "lblSeparador2", twips(3960, 360, 135, 255), QStringLiteral(":"), darkRed);
    lblSegDuracion = timeLabel(info, "lblSegDuracion", twips(4080, 360, 255, 255), QStringLiteral("00"), darkRed);
    lblVolumen = place<QLabel>(info, "lblVolumen", twips(5400, 360, 735, 255), QStringLiteral("Volumen:"));
    hsVolumen = scrollBar(info, "hsVolumen", twips(6120, 360, 1815, 255), QStringLiteral("Volumen"));
    // One arrow click is 1 dB, one page 10 dB: steps a listener can hear.
    hsVolumen->setSingleStep(100);
    hsVolumen->setPageStep(1000);

    fraListas = frame(this, "fraListas", twips(0, 840, 9495, 4935), QStringLiteral("Listas de reproducción:"));
    QWidget* lists = fraListas;
    cmdNuevaLis = pictureButton(lists, "cmdNuevaLis", twips(120, 240, 1095, 855), QStringLiteral("Nueva"),
                                iconNueva(), QStringLiteral("Crear una nueva lista de reproducción."));
    cmdEliminarLis = pictureButton(lists, "cmdEliminarLis", twips(1440, 240, 1095, 855),
                                   QStringLiteral("Eliminar"), iconEliminar(),
                                   QStringLiteral("Eliminar la lista de reproducción seleccionada."));
    cmdPlay = transportButton(lists, "cmdPlay", twips(2760, 480, 435, 435), Glyph::Play,
                              QStringLiteral("Reproducir la lista"),
                              QStringLiteral("Comenzar a reproducir la lista seleccionada."));
    cmdPause = transportButton(lists, "cmdPause", twips(3240, 480, 435, 435), Glyph::Pause,
                               QStringLiteral("Pausar o reanudar la lista"),
                               QStringLiteral("Hacer Pausa/Reanudar "));
    cmdStop = transportButton(lists, "cmdStop", twips(3720, 480, 435, 435), Glyph::Stop,
                              QStringLiteral("Detener la lista"),
                              QStringLiteral("Detener la reproducción."));
    chkContinuado = checkBox(lists, "chkContinuado", twips(4680, 240, 1215, 255), QStringLiteral("Continuado"),
                             QStringLiteral("Reproducción continua"), true);
    chkAleatorio = checkBox(lists, "chkAleatorio", twips(4680, 600, 1215, 255), QStringLiteral("Aleatorio"),
                            QStringLiteral("Orden de reproducción aleatorio"), false);
    chkTodas = checkBox(lists, "chkTodas", twips(4680, 960, 1695, 195), QStringLiteral("Todas las listas"),
                        QStringLiteral("Reproducir todas las listas"), false);
    cmdAcerca = pictureButton(lists, "cmdAcerca", twips(6960, 240, 1095, 855), QStringLiteral("Acerca de"),
                              iconAcerca());
    cmdSalir = pictureButton(lists, "cmdSalir", twips(8280, 240, 1095, 855), QStringLiteral("Salir"),
                             iconSalir(), QStringLiteral("Salir del programa"));
    lstListas = listBox(lists, "lstListas", twips(120, 1200, 9255, 1200), false,
                        QStringLiteral("Listas de reproducción"));
    cmdAgregarDoc = pictureButton(lists, "cmdAgregarDoc", twips(120, 2520, 1095, 855), QStringLiteral("Agregar"),
                                  iconAgregar(),
                                  QStringLiteral("Agregar un archivo de sonido a la lista de reproducción seleccionada."));
    cmdEliminarDoc = pictureButton(lists, "cmdEliminarDoc", twips(1440, 2520, 1095, 855), QStringLiteral("Quitar"),
                                   iconQuitar(),
                                   QStringLiteral("Quitar el archivo seleccionado de la lista de reproducción."));
    lstContenido = listBox(lists, "lstContenido", twips(120, 3480, 9255, 1155), true,
                           QStringLiteral("Archivos de la lista"));

    fraArchivo = frame(this, "fraArchivo", twips(0, 5880, 9495, 855), QStringLiteral("Archivo de sonido"));
    QWidget* file = fraArchivo;
    txtArchivo = place<QLineEdit>(file, "txtArchivo", twips(120, 360, 6495, 315));
    txtArchivo->setAccessibleName(QStringLiteral("Archivo de sonido"));
    cmdExaminar = place<QPushButton>(file, "cmdExaminar", twips(6840, 360, 975, 315), QStringLiteral("Examinar"));
    cmdPlayArchivo = transportButton(file, "cmdPlayArchivo", twips(8040, 360, 315, 315), Glyph::Play,
                                     QStringLiteral("Reproducir el archivo"));
    cmdPauseArchivo = transportButton(file, "cmdPauseArchivo", twips(8520, 360, 315, 315), Glyph::Pause,
                                      QStringLiteral("Pausar o reanudar el archivo"),
                                      QStringLiteral(" Hacer Pausa/Reanudar "));
    cmdStopArchivo = transportButton(file, "cmdStopArchivo", twips(9000, 360, 315, 315), Glyph::Stop,
                                     QStringLiteral("Detener el archivo"));
    cmdPlayArchivo->setEnabled(false);
    cmdPauseArchivo->setEnabled(false);
    cmdStopArchivo->setEnabled(false);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);

    const QWidget* tabOrder[] = {cmdEliminarLis, lstContenido, cmdNuevaLis, lstListas, cmdStop,
                                 cmdPlay, cmdPause, hsTiempo, hsVolumen, txtArchivo, cmdExaminar,
                                 cmdStopArchivo, cmdPlayArchivo, cmdPauseArchivo, cmdAgregarDoc,
                                 cmdEliminarDoc, cmdSalir, chkContinuado, chkAleatorio, chkTodas,
                                 cmdAcerca};
    for (std::size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        QWidget::setTabOrder(const_cast<QWidget*>(tabOrder[i]), const_cast<QWidget*>(tabOrder[i + 1]));
}

void frmPrincipal::connectEvents() {
    // Whatever a handler changed may let a waiting walk go on.
    const auto route = [this](auto* sender, auto signal, void (frmPrincipal::*handler)()) {
        connect(sender, signal, this, [this, handler] {
            guarded([this, handler] { (this->*handler)(); });
            playback_->userChanged();
            holdBoxPaint();
        });
    };
    route(cmdAcerca, &QToolButton::clicked, &frmPrincipal::cmdAcerca_Click);
    route(cmdSalir, &QToolButton::clicked, &frmPrincipal::cmdSalir_Click);
    route(lstListas, &ListBoxWidget::Click, &frmPrincipal::lstListas_Click);
    route(cmdNuevaLis, &QToolButton::clicked, &frmPrincipal::cmdNuevaLis_Click);
    route(cmdEliminarLis, &QToolButton::clicked, &frmPrincipal::cmdEliminarLis_Click);
    route(cmdAgregarDoc, &QToolButton::clicked, &frmPrincipal::cmdAgregarDoc_Click);
    route(cmdEliminarDoc, &QToolButton::clicked, &frmPrincipal::cmdEliminarDoc_Click);
    route(cmdPlay, &QToolButton::clicked, &frmPrincipal::cmdPlay_Click);
    route(cmdPause, &QToolButton::clicked, &frmPrincipal::cmdPause_Click);
    route(cmdStop, &QToolButton::clicked, &frmPrincipal::cmdStop_Click);
    route(Timer1, &QTimer::timeout, &frmPrincipal::Timer1_Timer);
    route(hsVolumen, &QScrollBar::valueChanged, &frmPrincipal::hsVolumen_Change);
    route(cmdExaminar, &QPushButton::clicked, &frmPrincipal::cmdExaminar_Click);
    route(txtArchivo, &QLineEdit::textChanged, &frmPrincipal::txtArchivo_Change);
    route(cmdPlayArchivo, &QToolButton::clicked, &frmPrincipal::cmdPlayArchivo_Click);
    route(cmdPauseArchivo, &QToolButton::clicked, &frmPrincipal::cmdPauseArchivo_Click);
    route(cmdStopArchivo, &QToolButton::clicked, &frmPrincipal::cmdStopArchivo_Click);
    // No handler of their own: a changed check mark, row or option only tells the walk.
    const auto tellWalk = [this] {
        playback_->userChanged();
        holdBoxPaint();
    };
    connect(lstContenido, &ListBoxWidget::Click, this, tellWalk);
    connect(lstContenido, &QListWidget::itemChanged, this, tellWalk);
    for (QCheckBox* option : {chkContinuado, chkAleatorio, chkTodas})
        connect(option, &QCheckBox::toggled, this, tellWalk);
    connectPlayback();
}

void frmPrincipal::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const store::StoreError& e) {
        messages_.MsgBox(e.message(), editing::MessageBoxes::vbOKOnly, QStringLiteral("Melofon"));
    } catch (const std::exception& e) {
        messages_.MsgBox(QStringLiteral("La operación no se pudo completar: %1")
                             .arg(QString::fromLocal8Bit(e.what())),
                         editing::MessageBoxes::vbOKOnly, QStringLiteral("Melofon"));
    }
}

void frmPrincipal::start() {
    guarded([this] {
        Form_Load();
        dtcDocumentos().Refresh();
        dtcLisDoc().Refresh();
    });
    Timer1->start();
    if (const QScreen* s = screen()) {
        const QRect area = s->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
}

void frmPrincipal::Form_Initialize() { QDir::setCurrent(programDir_); }

void frmPrincipal::Form_Load() {
    dtcListas().Refresh();
    LlenarListas();
    hsVolumen->setMinimum(-10000);
    hsVolumen->setMaximum(0);
    hsTiempo->setMaximum(100);
}

void frmPrincipal::Form_Activate() { QDir::setCurrent(programDir_); }

void frmPrincipal::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        guarded([this] { Form_Activate(); });
    QWidget::changeEvent(event);
}

void frmPrincipal::closeEvent(QCloseEvent* event) {
    // The walk ends and the sound stops with the window.
    playback_->stop();
    event->accept();
}

void frmPrincipal::cmdAcerca_Click() { about::frmAbout::showShared(messages_, melofonIcon()); }

void frmPrincipal::cmdSalir_Click() {
    playback_->stop();
    endProgram_();
}

void frmPrincipal::lstListas_Click() {
    lstContenido->Clear();
    LlenarDocumentos();
}

editing::EditingContext frmPrincipal::editingContext() {
    return {store_, *lstListas, *lstContenido, [this](bool on) { cmdEliminarLis->setEnabled(on); },
            messages_, input_, cmExplorar, sDirectorio};
}

void frmPrincipal::cmdNuevaLis_Click() {
    auto c = editingContext();
    editing::cmdNuevaLis_Click(c);
}

void frmPrincipal::cmdEliminarLis_Click() {
    auto c = editingContext();
    editing::cmdEliminarLis_Click(c);
}

void frmPrincipal::cmdAgregarDoc_Click() {
    auto c = editingContext();
    editing::cmdAgregarDoc_Click(c);
}

void frmPrincipal::cmdEliminarDoc_Click() {
    auto c = editingContext();
    editing::cmdEliminarDoc_Click(c);
}

void frmPrincipal::LlenarListas() {
    cmdEliminarLis->setEnabled(store::LlenarListas(*lstListas, dtcListas()));
}

void frmPrincipal::LlenarDocumentos() {
    store::LlenarDocumentos(*lstContenido, SelIdLista(), dtcLisDoc(), dtcDocumentos());
}

} // namespace melofon::app
