// The image-pair picker of the loading command: the left and right LAN images,
// the matched points file and, proposed from the image names, the orientation
// parameter file of each image.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLineEdit;

// The orientation file proposed for an image: the image path up to the last
// "." of its file name, followed by ".ORN" ("left.photo.lan" gives
// "left.photo.ORN"). A file name without a dot gets ".ORN" appended; a dot in a
// folder name never counts.
std::string OrientationPathFor(const std::string& strImagePath);

class C3DImgInput : public QDialog {
public:
    enum { IDD = 130 };
    // Texts handed to the file chooser: the chooser's title and its filter
    // ("Desc|pattern|...|", converted for the file dialog).
    static constexpr const char* kImagePrompt = "Choose a Image.";
    static constexpr const char* kPointsPrompt = "Choose a Point File.";
    static constexpr const char* kImageFilter =
        "Image Files (*.lan)|*.lan|TIFF Images (*.tif;*.tiff)|*.tif;*.tiff|All Files (*.*)|*.*|";
    static constexpr const char* kPointsFilter = "Points Files (*.pts)|*.pts|All Files (*.*)|*.*|";

    // Chooses one existing file and returns its path in the local file name
    // encoding, or an empty string when the operator cancels.
    using FileChooser =
        std::function<std::string(const std::string& strTitle, const std::string& strFilter)>;

    explicit C3DImgInput(QWidget* pParent = nullptr);

    // Shows the dialog modally (the members fill the edits when it opens);
    // returns QDialog::Accepted after a valid OK, QDialog::Rejected otherwise.
    int DoModal() { return exec(); }

    // true: edits -> members (an image path changed by hand drops the
    // orientation path proposed for the previous one); false: members -> edits.
    // Returns false when the edits were refused (never for this dialog).
    bool UpdateData(bool bSaveAndValidate = true);

    // Browse buttons 1001, 1003, 1005.
    void OnBrowseLeft();
    void OnBrowseRight();
    void OnBrowsePoints();

    // OK: reads the edits and closes only if they were accepted.
    void accept() override;

    // Paths in the local file name encoding, all empty at first.
    std::string m_strLeftImage;
    std::string m_strRightImage;
    std::string m_strMatchedPoints;
    std::string m_strLeftOrientation;
    std::string m_strRightOrientation;

    // The file-open step of the Browse buttons; by default a file dialog that
    // starts in the current working folder. Tests replace it.
    FileChooser m_fnChooseFile;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    void BrowseImage(std::string& strImage, std::string& strOrientation);
    std::string ChooseDefault(const std::string& strTitle, const std::string& strFilter);

    QLineEdit* m_pEditLeft = nullptr;    // 1000
    QLineEdit* m_pEditRight = nullptr;   // 1002
    QLineEdit* m_pEditPoints = nullptr;  // 1004
};
