#include "app/tests/form1_fixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTest>

namespace {

class FixtureScreen : public platform::ScreenSource
{
public:
    explicit FixtureScreen(const QImage &image)
        : image(image)
    {
    }
    void GrabScreens(GrabScreensDone done) override
    {
        done({ { { QGuiApplication::primaryScreen()->geometry(), image } } });
    }

private:
    const QImage &image;
};

} // namespace

Form1Fixture::Form1Fixture()
{
    Form1::Seams seams;
    seams.chooseFile = [this](QWidget *, const platform::OpenFileRequest &request) {
        fileRequests.push_back(request);
        if (whileFileDialogOpen)
            whileFileDialogOpen();
        if (filesToChoose.empty())
            return QString();
        const QString path = filesToChoose.front();
        filesToChoose.erase(filesToChoose.begin());
        return path;
    };
    seams.chooseColour = [this](QWidget *, platform::CustomColours &custom) {
        coloursOffered.push_back(custom);
        if (colourAnswers.empty())
            return std::optional<analysis::ColourValue>();
        const ColourAnswer answer = colourAnswers.front();
        colourAnswers.erase(colourAnswers.begin());
        // The dialog edits its own copy; only a confirmed one hands the edits back.
        platform::CustomColours edited = custom;
        for (const auto &[k, colour] : answer.edits)
            edited[static_cast<std::size_t>(k)] = colour;
        if (answer.colour)
            custom = edited;
        return answer.colour;
    };
    seams.loadPicture = [this](const platform::PictureInput &input, analysis::ColourValue colour) {
        if (beforeLoad)
            beforeLoad(input);
        return app::LoadPicture(input, colour);
    };
    seams.createScreenSource = [this] { return std::make_unique<FixtureScreen>(screen); };
    seams.showError = [this](QWidget *, const QString &text, const QString &details) {
        errors.push_back(text);
        errorDetails.push_back(details);
    };
    seams.endProgram = [this] {
        ++endRequests;
        endedWhileCalculating = window->Scanner().IsCalculating();
    };
    window = std::make_unique<Form1>(std::move(seams));
}

analysis::ColourValue Form1Fixture::ShownSwatch()
{
    const QImage shown = window->LblClr->grab().toImage();
    const QRgb centre = shown.pixel(shown.width() / 2, shown.height() / 2);
    return analysis::MakeColour(qRed(centre), qGreen(centre), qBlue(centre));
}

QString Form1Fixture::InfoText() const { return window->LbInfo->text(); }

QString Form1Fixture::HexText() const { return window->Text1->text(); }

QString Form1Fixture::SaveImage(const QImage &image, const QString &name, const char *format)
{
    const QString path = folder.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path, format))
        return {};
    return path;
}

QImage TwoColourPicture(int width, int height, QRgb left, QRgb right)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, x < width / 2 ? left : right);
    return image;
}

QImage FirstRowApart(int width, int height, QRgb firstRow, QRgb rest)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(rest);
    for (int x = 0; x < width; ++x)
        image.setPixel(x, 0, firstRow);
    return image;
}

QWidget *WaitForShownOverlay()
{
    QWidget *overlay = nullptr;
    static_cast<void>(QTest::qWaitFor(
        [&] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (w->objectName() == QLatin1String("Form2") && w->isVisible())
                    overlay = w;
            return overlay != nullptr;
        },
        10000));
    return overlay;
}
