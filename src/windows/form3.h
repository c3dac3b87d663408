#pragma once

#include <QDialog>

class QLabel;

namespace arcsweep {

// The title window: product name, icon and version over a drawn background.
// Hidden during start-up; the About command shows it while its sound plays.
class Form3 : public QDialog {
    Q_OBJECT
public:
    explicit Form3(QWidget *parent = nullptr);

    QLabel *Label1; // "Arcsweep"
    QLabel *Image1; // the program's icon
    QLabel *Label2; // version
    QLabel *Label3; // author line

    // The program's 32 x 32 icon, drawn here so no image file is needed.
    static QPixmap programIcon();

protected:
    void paintEvent(QPaintEvent *) override;
    void showEvent(QShowEvent *event) override; // centred on the screen
};

} // namespace arcsweep
