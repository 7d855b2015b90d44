#include "dialogs/yuv_parameters_dlg.h"

#include "raw/Util.h"
#include "decoders/ze_yuv_decoder.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

// The dialog's form: widgets named as the dialog refers to them.
class Ui_YUVParametersDialog
{
public:
    QSlider* widthSlider;
    QSlider* heightSlider;
    QLabel* viewWidget;
    QSlider* frameSlider;
    QLabel* framesLabel;
    QLabel* label;
    QComboBox* standardResolutionsW;
    QLabel* label_2;
    QSpinBox* widthLabel;
    QLabel* label_3;
    QSpinBox* heightLabel;
    QLabel* label_4;
    QSpinBox* fpsW;
    QLabel* label_5;
    QComboBox* colorSpaceW;
    QLabel* label_6;
    QComboBox* planeOrderW;
    QLabel* label_7;
    QComboBox* chromaOrderW;
    QLabel* label_8;
    QSpinBox* bitdepthW;
    QLabel* label_9;
    QComboBox* bytePerValueW;
    QLabel* label_10;
    QFrame* line;
    QLabel* label_12;
    QSpinBox* cropLeft;
    QLabel* label_17;
    QLabel* label_14;
    QSpinBox* cropWidth;
    QLabel* label_18;
    QLabel* label_13;
    QSpinBox* cropTop;
    QLabel* label_16;
    QLabel* label_15;
    QSpinBox* cropHeight;
    QLabel* label_19;
    QLabel* warningSign;
    QLabel* label_11;
    QLabel* problemLabel; // why OK is disabled, empty while the parameters can be decoded
    QDialogButtonBox* buttonBox;

    void setupUi(QDialog* dialog)
    {
        dialog->setObjectName(QStringLiteral("YUVParametersDialog"));
        auto named = [](auto* w, char const* name) {
            w->setObjectName(QLatin1String(name));
            return w;
        };
        // Two columns, the preview beside the parameters, so that the dialog with its buttons
        // fits a 1366 x 768 screen.
        auto* top = new QVBoxLayout(dialog);
        auto* columns = new QHBoxLayout;
        top->addLayout(columns);
        auto* left = new QVBoxLayout;
        columns->addLayout(left);

        widthSlider = named(new QSlider(Qt::Horizontal, dialog), "widthSlider");
        widthSlider->setRange(1, 4096);
        widthSlider->setPageStep(100);
        left->addWidget(widthSlider);

        auto* view = new QHBoxLayout;
        heightSlider = named(new QSlider(Qt::Vertical, dialog), "heightSlider");
        heightSlider->setRange(1, 4096);
        heightSlider->setPageStep(100);
        heightSlider->setInvertedAppearance(true);
        viewWidget = named(new QLabel(dialog), "viewWidget");
        viewWidget->setFixedSize(640, 480);
        viewWidget->setStyleSheet(QStringLiteral("background-color:black;"));
        viewWidget->setAlignment(Qt::AlignCenter);
        view->addWidget(heightSlider);
        view->addWidget(viewWidget);
        left->addLayout(view);

        frameSlider = named(new QSlider(Qt::Horizontal, dialog), "frameSlider");
        left->addWidget(frameSlider);
        framesLabel = named(new QLabel(dialog), "framesLabel");
        left->addWidget(framesLabel);
        left->addStretch(1);

        auto* right = new QVBoxLayout;
        columns->addLayout(right, 1);
        auto* grid = new QGridLayout;
        int row = 0;
        auto addRow = [&](QLabel*& l, char const* lname, QWidget* field) {
            l = named(new QLabel(dialog), lname);
            grid->addWidget(l, row, 0);
            grid->addWidget(field, row, 1, 1, 2);
            ++row;
        };
        standardResolutionsW = named(new QComboBox(dialog), "standardResolutionsW");
        addRow(label, "label", standardResolutionsW);
        widthLabel = named(new QSpinBox(dialog), "widthLabel");
        widthLabel->setRange(1, 16384);
        addRow(label_2, "label_2", widthLabel);
        heightLabel = named(new QSpinBox(dialog), "heightLabel");
        heightLabel->setRange(1, 16384);
        addRow(label_3, "label_3", heightLabel);
        fpsW = named(new QSpinBox(dialog), "fpsW");
        fpsW->setRange(1, 120);
        addRow(label_4, "label_4", fpsW);
        colorSpaceW = named(new QComboBox(dialog), "colorSpaceW");
        addRow(label_5, "label_5", colorSpaceW);
        planeOrderW = named(new QComboBox(dialog), "planeOrderW");
        addRow(label_6, "label_6", planeOrderW);
        chromaOrderW = named(new QComboBox(dialog), "chromaOrderW");
        addRow(label_7, "label_7", chromaOrderW);
        bitdepthW = named(new QSpinBox(dialog), "bitdepthW");
        bitdepthW->setRange(8, 16);
        addRow(label_8, "label_8", bitdepthW);
        bytePerValueW = named(new QComboBox(dialog), "bytePerValueW");
        addRow(label_9, "label_9", bytePerValueW);

        label_10 = named(new QLabel(dialog), "label_10");
        line = named(new QFrame(dialog), "line");
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        grid->addWidget(label_10, row, 0);
        grid->addWidget(line, row, 1, 1, 2);
        ++row;
        auto addCrop = [&](QLabel*& l, char const* lname, QSpinBox*& box, char const* bname, QLabel*& unit,
                           char const* uname) {
            l = named(new QLabel(dialog), lname);
            box = named(new QSpinBox(dialog), bname);
            unit = named(new QLabel(dialog), uname);
            grid->addWidget(l, row, 0);
            grid->addWidget(box, row, 1);
            grid->addWidget(unit, row, 2);
            ++row;
        };
        addCrop(label_12, "label_12", cropLeft, "cropLeft", label_17, "label_17");
        addCrop(label_14, "label_14", cropWidth, "cropWidth", label_18, "label_18");
        addCrop(label_13, "label_13", cropTop, "cropTop", label_16, "label_16");
        addCrop(label_15, "label_15", cropHeight, "cropHeight", label_19, "label_19");
        right->addLayout(grid);

        auto* note = new QHBoxLayout;
        warningSign = named(new QLabel(dialog), "warningSign");
        warningSign->setFixedSize(32, 32);
        label_11 = named(new QLabel(dialog), "label_11");
        label_11->setWordWrap(true);
        note->addWidget(warningSign, 0, Qt::AlignTop);
        note->addWidget(label_11, 1);
        right->addLayout(note);
        right->addStretch(1);

        auto* bottom = new QHBoxLayout;
        problemLabel = named(new QLabel(dialog), "problemLabel");
        problemLabel->setWordWrap(true);
        problemLabel->setStyleSheet(QStringLiteral("color:#b00000;"));
        buttonBox = named(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog), "buttonBox");
        bottom->addWidget(problemLabel, 1);
        bottom->addWidget(buttonBox);
        top->addLayout(bottom);
        retranslateUi(dialog);
    }

    void retranslateUi(QDialog* dialog)
    {
        dialog->setWindowTitle(QStringLiteral("Dialog"));
        framesLabel->setText(QStringLiteral("<Frames Label>"));
        label->setText(QStringLiteral("Predefined Size:"));
        label_2->setText(QStringLiteral("Width:"));
        label_3->setText(QStringLiteral("Height:"));
        label_4->setText(QStringLiteral("FPS:"));
        label_5->setText(QStringLiteral("Color Format:"));
        label_6->setText(QStringLiteral("Plane Order:"));
        label_7->setText(QStringLiteral("Chroma Order:"));
        label_8->setText(QStringLiteral("Bit Depth:"));
        label_9->setText(QStringLiteral("Bits Per Value:"));
        label_10->setText(QStringLiteral("Crop"));
        label_12->setText(QStringLiteral("Left:"));
        label_14->setText(QStringLiteral("Width:"));
        label_13->setText(QStringLiteral("Top:"));
        label_15->setText(QStringLiteral("Height:"));
        for (QLabel* l : {label_17, label_18, label_16, label_19})
            l->setText(QStringLiteral("px"));
        label_11->setText(
            QStringLiteral("Crop values must be:\n- a multiple of 4 for 4:0:0 and 4:4:4\n- a multiple of 8 "
                           "for 4:2:0\n- a multiple of 8 horizontally and 4 vertically for 4:2:2\n- a "
                           "multiple of 4 horizontally and 8 vertically for 4:4:0\n"));
    }
};

namespace {

bool ValidType(int t)
{
    return t >= ImageInfo::IMG_400 && t <= ImageInfo::IMG_440;
}

// Floor division, also for negative values.
int FloorMultiple(int v, int step)
{
    int q = v / step;
    if (v % step != 0 && v < 0)
        --q;
    return q * step;
}

int CeilMultiple(int v, int step)
{
    int const f = FloorMultiple(v, step);
    return f == v ? v : f + step;
}

// v clamped into lo..hi; hi below lo gives lo.
int Bound(int v, int lo, int hi)
{
    return std::max(lo, std::min(v, hi));
}

// A margin typed into a crop box, moved to a multiple of the step in the direction of the edit.
int SnapMargin(int v, int current, int step)
{
    if (step > 1 && v % step != 0)
        return v > current ? CeilMultiple(v, step) : FloorMultiple(v, step);
    return v;
}

} // namespace

YUVParametersDialog::YUVParametersDialog(QWidget* parent, QFile* file, int width, int height, int bitDepth,
                                         ImageInfo::IMG_TYPE const& type, YUVFile::Formats const& format,
                                         CropInfo const& crop, int chromaOrder)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ui(new Ui_YUVParametersDialog), m_file(file)
{
    ui->setupUi(this);
    setWindowTitle(file != nullptr ? QFileInfo(file->fileName()).fileName() : QString());
    ui->warningSign->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(ui->warningSign->size()));

    // The lists first, so that the handlers called below can show their values.
    for (int i = 1; i <= 44; ++i) {
        Resolution const& r = standardResolutions[i];
        if (i == 1)
            ui->standardResolutionsW->addItem(QStringLiteral("Select predefined value"));
        ui->standardResolutionsW->addItem(
            QStringLiteral("%1x%2   %3").arg(r.width).arg(r.height).arg(QString::fromLatin1(r.name)));
    }
    for (char const* name : {"4:0:0", "4:2:0", "4:2:2", "4:4:4", "4:4:0"})
        ui->colorSpaceW->addItem(QString::fromLatin1(name));
    ui->planeOrderW->addItem(QStringLiteral("Planar"));
    ui->planeOrderW->addItem(QStringLiteral("Semi-planar"));
    ui->chromaOrderW->addItem(QStringLiteral("UV"));
    ui->chromaOrderW->addItem(QStringLiteral("VU"));
    ui->bytePerValueW->addItem(QStringLiteral("8 bit"));
    ui->bytePerValueW->addItem(QStringLiteral("16 bit"));

    m_frameCount = -1;
    m_bytesPerValue = 1;
    m_fps = 25.0;

    if (width < 1 || height < 1) {
        detectResolution();
        // Only the planar and semi-planar layouts can be shown in the Plane Order box; a
        // semi-planar layout and a bit depth found in the name or the contents are kept (P010 is
        // semi-planar 10-bit), the other layouts fall back to the chroma format's first preset.
        YUVFile::Formats const detected = m_format;
        int const detectedDepth = m_bitDepth;
        colorSpaceChanged(m_colorFormat);
        if (detected == YUVFile::FORMAT_SEMI_PLANAR || detected == YUVFile::FORMAT_P010)
            m_format = YUVFile::FORMAT_SEMI_PLANAR;
        ui->planeOrderW->setCurrentIndex(m_format & 1);
        planeOrderChanged(m_format);
        if (detected == YUVFile::FORMAT_PLANAR || detected == YUVFile::FORMAT_SEMI_PLANAR ||
            detected == YUVFile::FORMAT_P010) {
            m_bitDepth = detectedDepth;
            m_bytesPerValue = detectedDepth > 8 ? 2 : 1;
        }
        m_chromaOrder = 0;
        ui->bitdepthW->setValue(m_bitDepth);
        ui->chromaOrderW->setCurrentIndex(m_chromaOrder);
        ui->bytePerValueW->setCurrentIndex(m_bytesPerValue - 1);
        updateFrameSize();
    } else {
        // The values come from stored settings: take only what the dialog can show. A P010
        // layout is semi-planar 10-bit.
        ImageInfo::IMG_TYPE const t = ValidType(type) ? type : ImageInfo::IMG_420;
        int depth = (bitDepth >= 8 && bitDepth <= 16) ? bitDepth : 8;
        YUVFile::Formats layout = format;
        if (layout == YUVFile::FORMAT_P010) {
            layout = YUVFile::FORMAT_SEMI_PLANAR;
            depth = 10;
        }
        if (getDefaultPresetFormats(t, layout).bytesPerPixel <= 0) {
            layout = YUVFile::FORMAT_PLANAR;
            for (ColorFormatPresets const& c : ListDefaultPreset)
                if (c.type == t && !c.formats.isEmpty())
                    layout = c.formats.front().format;
        }
        m_width = std::min(width, kMaxSide);
        m_height = std::min(height, kMaxSide);
        m_fileSize = file != nullptr ? std::max<int64_t>(file->size(), 0) : 0;
        m_colorFormat = t;
        colorSpaceChanged(t);
        m_bitDepth = depth;
        m_chromaOrder = chromaOrder == 1 ? 1 : 0;
        m_format = layout;
        m_bytesPerValue = depth <= 8 ? 1 : 2;
        ui->bitdepthW->setValue(m_bitDepth);
        updateFrameSize();
        // A stored crop is taken only when it leaves a picture: a negative margin or margins
        // that meet are refused whole.
        bool const cropFits = crop.left >= 0 && crop.right >= 0 && crop.top >= 0 && crop.bottom >= 0 &&
                              int64_t(crop.left) + crop.right < m_width && int64_t(crop.top) + crop.bottom < m_height;
        m_crop = cropFits ? crop : CropInfo{};
        updateFrameSize();
        updateCropControls();
    }

    ui->widthSlider->setValue(m_width);
    ui->heightSlider->setValue(m_height);
    ui->widthLabel->setValue(m_width);
    ui->heightLabel->setValue(m_height);
    setSliderSteps();
    ui->frameSlider->setValue(0);
    ui->framesLabel->setText(QStringLiteral("<b>%1 frames</b>").arg(m_frameCount));
    ui->planeOrderW->setCurrentIndex(m_format & 1);
    ui->chromaOrderW->setCurrentIndex(m_chromaOrder);
    ui->colorSpaceW->setCurrentIndex(m_colorFormat);
    ui->bytePerValueW->setCurrentIndex(m_bytesPerValue - 1);
    ui->bitdepthW->setValue(m_bitDepth);
    ui->fpsW->setValue(25);
    setCropRanges();
    updateCropControls();
    updateChoices();

    connect(ui->heightLabel, &QSpinBox::editingFinished, this, &YUVParametersDialog::sizeReady);
    connect(ui->widthLabel, &QSpinBox::editingFinished, this, &YUVParametersDialog::sizeReady);
    connect(ui->standardResolutionsW, QOverload<int>::of(&QComboBox::activated), this,
            &YUVParametersDialog::comboReady);
    connect(ui->frameSlider, &QSlider::valueChanged, this, &YUVParametersDialog::frameChanged);
    connect(ui->widthSlider, &QSlider::valueChanged, this, &YUVParametersDialog::widthChanged);
    connect(ui->heightSlider, &QSlider::valueChanged, this, &YUVParametersDialog::heightChanged);
    connect(ui->chromaOrderW, QOverload<int>::of(&QComboBox::activated), this,
            &YUVParametersDialog::chromaOrderChanged);
    connect(ui->planeOrderW, QOverload<int>::of(&QComboBox::activated), this, &YUVParametersDialog::planeOrderChanged);
    connect(ui->colorSpaceW, QOverload<int>::of(&QComboBox::activated), this, &YUVParametersDialog::colorSpaceChanged);
    connect(ui->bitdepthW, QOverload<int>::of(&QSpinBox::valueChanged), this, &YUVParametersDialog::bitdepthChanged);
    connect(ui->bytePerValueW, QOverload<int>::of(&QComboBox::activated), this, &YUVParametersDialog::bppChanged);
    connect(ui->cropLeft, &QSpinBox::editingFinished, this, [this] { cropLeftFinished(); });
    connect(ui->cropWidth, &QSpinBox::editingFinished, this, [this] { cropWidthFinished(); });
    connect(ui->cropTop, &QSpinBox::editingFinished, this, [this] { cropTopFinished(); });
    connect(ui->cropHeight, &QSpinBox::editingFinished, this, [this] { cropHeightFinished(); });
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    m_ready = true;
    loadFrame(0);
}

YUVParametersDialog::~YUVParametersDialog()
{
    delete ui;
    m_image.release();
}

void YUVParametersDialog::detectResolution()
{
    YUVParameters::detectResolution(m_file);
}

// Odd sizes are kept whatever the chroma format: the chroma planes of an odd side are rounded
// up, as the readers and the decoder read them.
int YUVParametersDialog::evenWidth(int w) const
{
    return w;
}

int YUVParametersDialog::evenHeight(int h) const
{
    return h;
}

void YUVParametersDialog::fitCropToSize()
{
    if (int64_t(m_crop.left) + m_crop.right >= m_width)
        m_crop.left = m_crop.right = 0;
    if (int64_t(m_crop.top) + m_crop.bottom >= m_height)
        m_crop.top = m_crop.bottom = 0;
}

void YUVParametersDialog::setCropRanges()
{
    fitCropToSize();
    {
        QSignalBlocker const b1(ui->cropLeft), b2(ui->cropWidth), b3(ui->cropTop), b4(ui->cropHeight);
        ui->cropLeft->setRange(0, m_width);
        ui->cropTop->setRange(0, m_height);
        ui->cropWidth->setRange(std::min(m_minCropWidth, m_width), m_width);
        ui->cropHeight->setRange(std::min(m_minCropHeight, m_height), m_height);
    }
    updateCropControls();
}

void YUVParametersDialog::setSliderSteps()
{
    ui->heightSlider->setSingleStep(1);
    ui->widthSlider->setSingleStep(1);
}

void YUVParametersDialog::updateChoices()
{
    using ze::nox::core::ZeYuvDecoder;
    auto setItem = [](QComboBox* box, int index, bool enabled, QString const& why) {
        auto* model = qobject_cast<QStandardItemModel*>(box->model());
        QStandardItem* item = model != nullptr ? model->item(index) : nullptr;
        if (item == nullptr)
            return;
        item->setEnabled(enabled);
        item->setToolTip(enabled ? QString() : why);
    };
    // A depth the decoder reads, for judging the other choices by themselves.
    int const depth = (m_bitDepth == 8 || m_bitDepth == 10) ? m_bitDepth : 8;
    for (int t = ImageInfo::IMG_400; t <= ImageInfo::IMG_440; ++t) {
        QString why;
        auto const type = static_cast<ImageInfo::IMG_TYPE>(t);
        bool const any = ZeYuvDecoder::pixelFormatOf(depth, type, YUVFile::FORMAT_PLANAR, &why) != AV_PIX_FMT_NONE ||
                         ZeYuvDecoder::pixelFormatOf(depth, type, YUVFile::FORMAT_SEMI_PLANAR) != AV_PIX_FMT_NONE;
        setItem(ui->colorSpaceW, t, any, why);
    }
    for (int layout = YUVFile::FORMAT_PLANAR; layout <= YUVFile::FORMAT_SEMI_PLANAR; ++layout) {
        QString why;
        bool const ok = ZeYuvDecoder::pixelFormatOf(depth, m_colorFormat, static_cast<YUVFile::Formats>(layout),
                                                    &why) != AV_PIX_FMT_NONE;
        setItem(ui->planeOrderW, layout, ok, why);
    }
    setItem(ui->bytePerValueW, 0, m_bitDepth <= 8, QStringLiteral("Samples above 8 bits take two bytes."));
    setItem(ui->bytePerValueW, 1, m_bitDepth > 8, QStringLiteral("Samples of 8 bits take one byte."));

    QString why;
    if (m_frameSize <= 0)
        why = QStringLiteral("This layout has no frame size.");
    else if (ZeYuvDecoder::pixelFormatOf(m_bitDepth, m_colorFormat, m_format, &why) == AV_PIX_FMT_NONE)
        why = why.isEmpty() ? QStringLiteral("No pixel format for these parameters.") : why;
    else if ((m_bitDepth > 8) != (m_bytesPerValue == 2))
        why = QStringLiteral("%1-bit samples take %2 per value.")
                  .arg(m_bitDepth)
                  .arg(m_bitDepth > 8 ? QStringLiteral("two bytes") : QStringLiteral("one byte"));
    else if (m_frameCount < 1)
        why = QStringLiteral("The file holds no whole frame of this size.");
    QPushButton* ok = ui->buttonBox->button(QDialogButtonBox::Ok);
    if (ok != nullptr) {
        ok->setEnabled(why.isEmpty());
        ok->setToolTip(why);
    }
    ui->problemLabel->setText(why);
}

void YUVParametersDialog::applyPresetControls(Formats const& preset)
{
    m_bitDepth = preset.bitDepth;
    m_bytesPerValue = preset.bytesPerValue;
    {
        QSignalBlocker const block(ui->bitdepthW);
        ui->bitdepthW->setValue(m_bitDepth);
    }
    if (m_bytesPerValue >= 1 && m_bytesPerValue <= 2)
        ui->bytePerValueW->setCurrentIndex(m_bytesPerValue - 1);
    ui->chromaOrderW->setEnabled(preset.editable);
    ui->bitdepthW->setEnabled(preset.editable);
    ui->bytePerValueW->setEnabled(preset.editable);
}

void YUVParametersDialog::widthChanged(int val)
{
    m_width = evenWidth(val);
    m_height = evenHeight(m_height);
    ui->widthLabel->setValue(m_width);
    ui->heightLabel->setValue(m_height);
    setCropRanges();
    updateFrameSize();
    loadFrame(0);
}

void YUVParametersDialog::heightChanged(int val)
{
    m_height = evenHeight(val);
    m_width = evenWidth(m_width);
    ui->widthLabel->setValue(m_width);
    ui->heightLabel->setValue(m_height);
    setCropRanges();
    updateFrameSize();
    loadFrame(0);
}

void YUVParametersDialog::sizeReady()
{
    QObject* const s = sender();
    if (s == ui->widthLabel) {
        int const w = evenWidth(ui->widthLabel->value());
        ui->widthSlider->setValue(w);
        m_width = w;
    } else if (s == ui->heightLabel) {
        int const h = evenHeight(ui->heightLabel->value());
        ui->heightSlider->setValue(h);
        m_height = h;
    } else {
        return;
    }
    resolutionChanged(m_width, m_height);
}

void YUVParametersDialog::comboReady(int idx)
{
    if (idx < 1 || idx > 45 || standardResolutions[idx].width <= 0)
        return;
    m_width = standardResolutions[idx].width;
    m_height = standardResolutions[idx].height;
    {
        QSignalBlocker const b1(ui->widthSlider), b2(ui->heightSlider), b3(ui->widthLabel), b4(ui->heightLabel);
        ui->widthSlider->setValue(m_width);
        ui->heightSlider->setValue(m_height);
        ui->widthLabel->setValue(m_width);
        ui->heightLabel->setValue(m_height);
        loadFrame(0);
    }
    resolutionChanged(m_width, m_height);
}

void YUVParametersDialog::resolutionChanged(int width, int height)
{
    m_width = evenWidth(width);
    m_height = evenHeight(height);
    {
        QSignalBlocker const b1(ui->widthLabel), b2(ui->heightLabel);
        ui->widthLabel->setValue(m_width);
        ui->heightLabel->setValue(m_height);
    }
    setCropRanges();
    updateFrameSize();
    loadFrame(0);
}

void YUVParametersDialog::colorSpaceChanged(int type)
{
    if (!ValidType(type))
        return;
    m_colorFormat = static_cast<ImageInfo::IMG_TYPE>(type);
    for (ColorFormatPresets const& c : ListDefaultPreset)
        if (c.type == m_colorFormat && !c.formats.isEmpty())
            m_format = c.formats.front().format;
    resolutionChanged(m_width, m_height);
    ui->planeOrderW->setCurrentIndex(m_format & 1);
    applyPresetControls(getDefaultPresetFormats(m_colorFormat, m_format));
    updateFrameSize();
    loadFrame(0);
    setSliderSteps();
    setCropSteps(m_colorFormat);
    CropInfo const before = m_crop;
    m_crop.left = CeilMultiple(m_crop.left, m_cropStepH);
    m_crop.right = CeilMultiple(m_crop.right, m_cropStepH);
    m_crop.top = CeilMultiple(m_crop.top, m_cropStepV);
    m_crop.bottom = CeilMultiple(m_crop.bottom, m_cropStepV);
    fitCropToSize();
    updateCropControls();
    if (before.left != m_crop.left || before.right != m_crop.right || before.top != m_crop.top ||
        before.bottom != m_crop.bottom) {
        updateFrameSize();
        loadFrame(0);
    }
}

void YUVParametersDialog::planeOrderChanged(int idx)
{
    m_format = static_cast<YUVFile::Formats>(idx);
    applyPresetControls(getDefaultPresetFormats(m_colorFormat, m_format));
    updateFrameSize();
    loadFrame(0);
}

void YUVParametersDialog::bitdepthChanged(int val)
{
    m_bitDepth = val;
    int const bpv = val <= 8 ? 1 : 2;
    if (bpv != m_bytesPerValue) {
        m_bytesPerValue = bpv;
        ui->bytePerValueW->setCurrentIndex(bpv - 1);
    }
    updateFrameSize();
    loadFrame(0);
}

void YUVParametersDialog::bppChanged(int val)
{
    m_bytesPerValue = val + 1;
    updateFrameSize();
    loadFrame(0);
}

void YUVParametersDialog::chromaOrderChanged(int idx)
{
    m_chromaOrder = idx;
    loadFrame(0);
}

void YUVParametersDialog::frameChanged(int val)
{
    loadFrame(val);
}

void YUVParametersDialog::cropChanged()
{
    updateFrameSize();
    loadFrame(0);
}

void YUVParametersDialog::updateFrameSize()
{
    m_frameSize = frameBytes(m_colorFormat, m_format, m_width, m_height, m_bytesPerValue);
    m_frameCount = frameCountOf(m_fileSize, m_frameSize);
    ui->frameSlider->setRange(0, std::max(m_frameCount - 1, 0));
    ui->framesLabel->setText(QStringLiteral("<b>%1 frames</b>").arg(m_frameCount));
    updateChoices();
}

void YUVParametersDialog::updateCropControls()
{
    QSignalBlocker const b1(ui->cropLeft), b2(ui->cropWidth), b3(ui->cropTop), b4(ui->cropHeight);
    ui->cropLeft->setValue(m_crop.left);
    ui->cropWidth->setValue(m_width - m_crop.left - m_crop.right);
    ui->cropTop->setValue(m_crop.top);
    ui->cropHeight->setValue(m_height - m_crop.top - m_crop.bottom);
}

void YUVParametersDialog::setCropSteps(ImageInfo::IMG_TYPE type)
{
    switch (type) {
    case ImageInfo::IMG_400:
    case ImageInfo::IMG_444: m_cropStepH = m_cropStepV = 4; break;
    case ImageInfo::IMG_420: m_cropStepH = m_cropStepV = 8; break;
    case ImageInfo::IMG_422:
        m_cropStepH = 8;
        m_cropStepV = 4;
        break;
    case ImageInfo::IMG_440:
        m_cropStepH = 4;
        m_cropStepV = 8;
        break;
    default: break;
    }
}

int YUVParametersDialog::roundToCropStep(int value, int step, RoundMode mode) const
{
    if (step <= 1 || value % step == 0)
        return value;
    if (mode == ROUND_UP)
        return CeilMultiple(value, step);
    if (mode != ROUND_NEAREST)
        return FloorMultiple(value, step);
    if (value >= 0)
        return CeilMultiple(value, step);
    int const down = FloorMultiple(value, step);
    return value - down < down + step - value ? down : down + step;
}

void YUVParametersDialog::cropLeftFinished()
{
    int const hi = m_width - m_minCropWidth;
    int const oldLeft = m_crop.left;
    int const v = SnapMargin(ui->cropLeft->value(), oldLeft, m_cropStepH);
    m_crop.left = Bound(v, 0, hi);
    m_crop.right = Bound(oldLeft + m_crop.right - m_crop.left, 0, hi - m_crop.left);
    afterCropEdit();
}

void YUVParametersDialog::cropWidthFinished()
{
    int const r = SnapMargin(m_width - m_crop.left - ui->cropWidth->value(), m_crop.right, m_cropStepH);
    m_crop.right = Bound(r, 0, m_width - m_minCropWidth);
    m_crop.left = Bound(m_crop.left, 0, m_width - m_crop.right - m_minCropWidth);
    afterCropEdit();
}

void YUVParametersDialog::cropTopFinished()
{
    int const hi = m_height - m_minCropHeight;
    int const oldTop = m_crop.top;
    int const v = SnapMargin(ui->cropTop->value(), oldTop, m_cropStepV);
    m_crop.top = Bound(v, 0, hi);
    m_crop.bottom = Bound(oldTop + m_crop.bottom - m_crop.top, 0, hi - m_crop.top);
    afterCropEdit();
}

void YUVParametersDialog::cropHeightFinished()
{
    int const b = SnapMargin(m_height - m_crop.top - ui->cropHeight->value(), m_crop.bottom, m_cropStepV);
    m_crop.bottom = Bound(b, 0, m_height - m_minCropHeight);
    m_crop.top = Bound(m_crop.top, 0, m_height - m_crop.bottom - m_minCropHeight);
    afterCropEdit();
}

void YUVParametersDialog::afterCropEdit()
{
    updateCropControls();
    updateFrameSize();
    loadFrame(0);
}

void YUVParametersDialog::readPicture(QByteArray& data, PicSize const& g)
{
    int pos = 0;
    switch (m_format) {
    case YUVFile::FORMAT_YUY2: return YUVFile::readYUY2(m_image, data, pos, g);
    case YUVFile::FORMAT_UYVY: return YUVFile::readUYVY(m_image, data, pos, g);
    case YUVFile::FORMAT_Y210: return YUVFile::readY210(m_image, data, pos, g);
    case YUVFile::FORMAT_Y216: return YUVFile::readY216(m_image, data, pos, g);
    case YUVFile::FORMAT_AYUV: return YUVFile::readAYUV(m_image, data, pos, g);
    case YUVFile::FORMAT_Y410: return YUVFile::readY410(m_image, data, pos, g);
    case YUVFile::FORMAT_Y416: return YUVFile::readY416(m_image, data, pos, g);
    case YUVFile::FORMAT_PLANAR:
    case YUVFile::FORMAT_SEMI_PLANAR:
    case YUVFile::FORMAT_P010: break;
    default: return;
    }
    bool const p010 = m_format == YUVFile::FORMAT_P010;
    bool const wide = m_bytesPerValue == 2;
    // Semi-planar words hold the samples in their upper bits (P010), planar words in the lower.
    int const depth = (p010 || (wide && m_format == YUVFile::FORMAT_SEMI_PLANAR)) ? 16 : m_bitDepth;
    if (wide)
        YUVFile::readLuma16Bit(m_image, data, pos, g, depth);
    else
        YUVFile::readLuma8Bit(m_image, data, pos, g);
    if (m_colorFormat == ImageInfo::IMG_400 || (p010 && m_colorFormat != ImageInfo::IMG_420))
        return;
    bool const nv12 = m_format == YUVFile::FORMAT_SEMI_PLANAR || p010;
    using Reader8 = void (*)(ImageType<short>&, QByteArray&, int&, PicSize const&);
    using Reader16 = void (*)(ImageType<short>&, QByteArray&, int&, PicSize const&, int);
    struct Readers
    {
        Reader8 planar8, nv8;
        Reader16 planar16, nv16;
    };
    static Readers const kReaders[] = {
        {nullptr, nullptr, nullptr, nullptr},
        {YUVFile::readChroma420Planar8Bit, YUVFile::readChroma420NV128Bit, YUVFile::readChroma420Planar16Bit,
         YUVFile::readChroma420NV1216Bit},
        {YUVFile::readChroma422Planar8Bit, YUVFile::readChroma422NV128Bit, YUVFile::readChroma422Planar16Bit,
         YUVFile::readChroma422NV1216Bit},
        {YUVFile::readChroma444Planar8Bit, YUVFile::readChroma444NV128Bit, YUVFile::readChroma444Planar16Bit,
         YUVFile::readChroma444NV1216Bit},
        {YUVFile::readChroma440Planar8Bit, YUVFile::readChroma440NV128Bit, YUVFile::readChroma440Planar16Bit,
         YUVFile::readChroma440NV1216Bit},
    };
    Readers const& r = kReaders[m_colorFormat];
    if (wide)
        (nv12 ? r.nv16 : r.planar16)(m_image, data, pos, g, depth);
    else
        (nv12 ? r.nv8 : r.planar8)(m_image, data, pos, g);
}

void YUVParametersDialog::loadFrame(int frame)
{
    if (!m_ready)
        return;
    if (m_frameSize <= 0 || !ValidType(m_colorFormat)) {
        ui->viewWidget->clear(); // no frame size, nothing to show
        return;
    }
    // A frame that the file cannot hold whole is not read (and not allocated for).
    if (m_file == nullptr || frame < 0 || frame >= m_fileSize / m_frameSize || m_frameSize > ImageBase::kMaxSamples)
        return;
    int64_t const offset = int64_t(frame) * m_frameSize;
    if (!m_file->seek(offset))
        return;
    QByteArray data = m_file->read(m_frameSize);
    if (data.size() != m_frameSize)
        return;

    PicSize g;
    g.height = m_height;
    g.width = m_width;
    g.lumaBitDepth = m_bitDepth;
    g.chromaBitDepth = m_bitDepth;
    g.type = m_colorFormat;
    ImageBase::Plane const& p0 = m_image.m_planes[0];
    if (!m_image.hasSamples() || p0.width != m_width || p0.height != m_height || m_image.m_type != m_colorFormat ||
        p0.bitDepth != m_bitDepth) {
        if (!m_image.allocate(m_width, m_height, m_bitDepth, m_bitDepth, m_colorFormat, m_crop, ImageInfo::FRAME))
            return;
    }
    readPicture(data, g);
    bool const chromaOrderApplies = m_format == YUVFile::FORMAT_PLANAR || m_format == YUVFile::FORMAT_SEMI_PLANAR ||
                                    m_format == YUVFile::FORMAT_P010;
    if (m_chromaOrder == 1 && chromaOrderApplies) {
        std::lock_guard<std::mutex> lock(m_image.m_mutex);
        std::swap(m_image.m_planes[1], m_image.m_planes[2]);
    }

    QImage const image = Util::getImg(0, &m_image, m_width, m_height, false, 0);
    if (image.isNull())
        return;
    QPixmap pixmap = QPixmap::fromImage(image);
    CropInfo const c = m_crop;
    if (c.left > 0 || c.right > 0 || c.top > 0 || c.bottom > 0) {
        QPainter painter(&pixmap);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 220));
        int const midH = m_height - c.top - c.bottom;
        painter.drawRect(0, 0, m_width, c.top);
        painter.drawRect(0, c.top, c.left, midH);
        painter.drawRect(m_width - c.right, c.top, c.right, midH);
        painter.drawRect(0, m_height - c.bottom, m_width, c.bottom);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::gray, 2));
        painter.drawRect(QRect(QPoint(c.left, c.top), QPoint(m_width - c.right - 1, m_height - c.bottom - 1)));
    }
    ui->viewWidget->setPixmap(pixmap.scaled(ui->viewWidget->size(), Qt::KeepAspectRatio, Qt::FastTransformation));
}
