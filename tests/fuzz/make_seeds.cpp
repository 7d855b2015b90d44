// Writes the seed corpus of every fuzz target from the generated test media:
//   fuzz_make_seeds OUT
// OUT/seeds/<target>/ gets a few small valid inputs, OUT/corpus/<target>/ is made empty for what
// the fuzzer finds, and OUT/project_media/ holds the clips the project-file seeds refer to.
#include "core/decoders/broken_files_support.h"
#include "fuzz_support.h"

#include "metrics_panel/ze_nox_rd_curve.h"
#include "project/ze_nox_gui_project.h"
#include "project/ze_nox_source_file.h"

#include <QCoreApplication>

using namespace brokenfiles;

namespace {

char const* const kTargets[] = {"decoder_factory", "y4m", "raw_params", "vvc_parsing", "project_file"};

QDir sOut;
int sFailures = 0;

void Put(QString const& target, QString const& name, QByteArray const& bytes)
{
    QFile f(sOut.filePath(QStringLiteral("seeds/%1/%2").arg(target, name)));
    if (bytes.isEmpty() || !f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "seed %s/%s not written\n", qPrintable(target), qPrintable(name));
        ++sFailures;
    }
}

QByteArray FromBytes(Bytes const& b)
{
    return QByteArray(reinterpret_cast<char const*>(b.data()), int(b.size()));
}

QByteArray Media(char const* name)
{
    return ReadAll(TestMediaPath(QString::fromLatin1(name)));
}

// The index of a suffix in the decoder-factory target's table.
char SuffixByte(std::string const& name)
{
    std::string const suffix = name.substr(name.rfind('.') + 1);
    for (size_t i = 0; i < fuzzsupport::kFactorySuffixCount; ++i)
        if (suffix == fuzzsupport::kFactorySuffixes[i])
            return char(i);
    return 0;
}

void DecoderFactorySeeds()
{
    for (Clip const& clip : Clips()) {
        if (clip.withParams)
            continue;
        QByteArray const bytes = FromBytes(clip.load());
        // Once detected, once by its type.
        Put("decoder_factory", QString::fromStdString(clip.name) + ".detect",
            QByteArray(1, SuffixByte(clip.name)) + char(0) + bytes);
        Put("decoder_factory", QString::fromStdString(clip.name) + ".typed",
            QByteArray(1, SuffixByte(clip.name)) + char(clip.type) + bytes);
    }
}

// The first pictures of each committed VVC stream: real slice data, so that mutations reach the
// reconstruction, every in-loop filter, block copy and the picture hash check.
void VvcStreamSeeds()
{
    for (auto const& [name, bytes] : VvcTestStreams()) {
        const QString base = QString::fromStdString(name.substr(0, name.rfind('.')));
        Put("vvc_parsing", base, FromBytes(FirstVvcPictures(bytes, 1)));
        Put("decoder_factory", base + ".vvc.typed",
            QByteArray(1, SuffixByte("x.vvc")) + char(ZE_STREAM_TYPE_VVC) + FromBytes(FirstVvcPictures(bytes, 2)));
        // A few pictures more: the inter pictures after the first, their reference lists and the
        // picture buffer's output (kept small so that the fuzzer stays fast).
        Bytes const more = FirstVvcPictures(bytes, 5);
        if (more.size() > FirstVvcPictures(bytes, 2).size() && more.size() <= 64 * 1024)
            Put("vvc_parsing", base + ".five", FromBytes(more));
    }
}

void Y4MSeeds()
{
    for (char const* name : {"fz_420p_33x17.y4m", "fz_422p10_16x8.y4m"})
        Put("y4m", QString::fromLatin1(name), Media(name).mid(9));
    // Frame headers with their own parameters, a comment token and a cut last frame.
    Put("y4m", "frame_tokens",
        QByteArray(" W4 H2 C444 F25:1 A1:1 XCOLORRANGE=FULL\nFRAME\n") + QByteArray(24, 'a') + "FRAME Ip XYZ\n" +
            QByteArray(24, 'b') + "FRAME\n" + QByteArray(7, 'c'));
    Put("y4m", "mono16", QByteArray(" W3 H3 Cmono16\nFRAME\n") + QByteArray(18, '\x10'));
}

void RawParamsSeeds()
{
    auto entry = [](QByteArray const& name, QByteArray const& contents) {
        return QByteArray(1, char(name.size())) + name + contents;
    };
    // The name maps bytes onto file-name characters by their index in the target's table.
    auto encode = [](QByteArray const& name) {
        static QByteArray const kChars("0123456789x_-.abcdefghijklmnopqrstuvwyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
        QByteArray out;
        for (char c : name)
            out += char(std::max(0, kChars.indexOf(c)));
        return out;
    };
    Put("raw_params", "named_nv12", entry(encode("clip_176x144_nv12.yuv"), QByteArray(300, '\x40')));
    Put("raw_params", "named_p010", entry(encode("a_1920x1080_p010.yuv"), QByteArray(100, '\0')));
    Put("raw_params", "contents_33x17", entry(encode("plain.yuv"), Media("fz_420p_33x17.yuv")));
    QByteArray ramp;
    for (int i = 0; i < 6000; ++i)
        ramp += char((i % 120) * 2);
    Put("raw_params", "contents_ramp", entry(encode("ramp.yuv"), ramp));
    Put("raw_params", "standard_size", entry(encode("cif.yuv"), QByteArray(352 * 288 * 3 / 2, '\x80')));
}

void VvcSeeds()
{
    auto build = [](std::function<void(vvctest::StreamPlan&)> change) {
        vvctest::StreamPlan s = vvctest::SimplePlan(5);
        change(s);
        return FromBytes(vvctest::BuildStream(s));
    };
    Put("vvc_parsing", "gop", build([](vvctest::StreamPlan&) {}));
    Put("vvc_parsing", "picture_header_units", build([](vvctest::StreamPlan& s) {
            s.phInSliceHeader = false;
            s.slicesPerPicture = 3;
        }));
    Put("vvc_parsing", "window_444_10bit", build([](vvctest::StreamPlan& s) {
            s.sps.window = true;
            s.sps.winRight = 4;
            s.sps.chromaFormat = 3;
            s.sps.bitDepth = 10;
        }));
    Put("vvc_parsing", "two_idr", build([](vvctest::StreamPlan& s) {
            s.pictures = {{8, 0}, {0, 2}, {0, 1}, {7, 0}, {0, 1}};
            s.sps.maxNumReorder = 1;
        }));
}

// Project files as the application saves them, over copies of small clips: with checksums and
// stored stream parameters, source-file roles and RD curves.
void ProjectSeeds()
{
    QDir const media(sOut.filePath(QStringLiteral("project_media")));
    struct Source
    {
        char const* name;
        QByteArray bytes;
    };
    Source const sources[] = {
        {"ref_33x17.y4m", Media("fz_420p_33x17.y4m")},
        {"avc.h264", Media("fz_avc.h264")},
        {"av1.ivf", Media("fz_av1.ivf")},
        {"mjpeg.mjpeg", Media("fz_mjpeg.mjpeg")},
        {"synthetic.vvc", FromBytes(SyntheticVvc())},
    };
    QStringList paths;
    for (Source const& s : sources) {
        QString const path = media.filePath(QString::fromLatin1(s.name));
        QFile f(path);
        if (s.bytes.isEmpty() || !f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            f.write(s.bytes) != s.bytes.size())
            ++sFailures;
        paths << path;
    }
    auto save = [&](QString const& name, QStringList const& files, bool curves) {
        ze::nox::gui::ZeNoxGuiProject project;
        project.setName(name);
        for (QString const& p : files)
            project.addSourceFile(p);
        if (curves) {
            project.addRdCurve(QStringLiteral("curve A"));
            project.addRdCurve(QStringLiteral("curve B"));
            auto const all = project.sourceFiles();
            for (int i = 0; i < all.size(); ++i)
                project.rdCurveByName(i % 2 ? QStringLiteral("curve B") : QStringLiteral("curve A"))
                    ->addSrcFile(all[i]);
            project.setRdCurveAnchor(project.rdCurveByName(QStringLiteral("curve A")));
        }
        project.setFileName(sOut.filePath(QStringLiteral("seeds/project_file/%1.zenxp").arg(name)));
        project.saveToFile();
        if (!QFileInfo::exists(sOut.filePath(QStringLiteral("seeds/project_file/%1.zenxp").arg(name))))
            ++sFailures;
    };
    save(QStringLiteral("all"), paths, true);
    save(QStringLiteral("one"), paths.mid(0, 1), false);
    save(QStringLiteral("pair"), paths.mid(0, 2), true);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds OUT\n");
        return 2;
    }
    fuzzsupport::QuietLogs();
    sOut = QDir(QString::fromLocal8Bit(argv[1]));
    for (char const* t : kTargets) {
        QDir(sOut.filePath(QStringLiteral("seeds/%1").arg(QLatin1String(t)))).removeRecursively();
        sOut.mkpath(QStringLiteral("seeds/%1").arg(QLatin1String(t)));
        sOut.mkpath(QStringLiteral("corpus/%1").arg(QLatin1String(t)));
    }
    sOut.mkpath(QStringLiteral("project_media"));
    DecoderFactorySeeds();
    Y4MSeeds();
    RawParamsSeeds();
    VvcSeeds();
    VvcStreamSeeds();
    ProjectSeeds();
    if (sFailures) {
        std::fprintf(stderr, "%d seeds not made: are the test media there?\n", sFailures);
        return 1;
    }
    return 0;
}
