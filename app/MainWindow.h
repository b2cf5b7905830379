// The main window: menu 103, toolbar, three-part status bar and the drawing area, and the
// zoom window it owns.
#pragma once

#include <QMainWindow>
#include <QPrinter>
#include <QWidget>

#include <map>
#include <memory>
#include <string>

class QAction;
class QLabel;
class QToolBar;

namespace app
{

class Desktop;
class MainWindow;
class QtUi;

// The area the diagrams are painted into; passes the mouse to the marker and read-out code.
class DrawingArea : public QWidget
{
    Q_OBJECT
public:
    explicit DrawingArea(MainWindow* owner);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void updateCursor();
    MainWindow* owner_;
};

class ZoomWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit ZoomWindow(QWidget* owner);
    void updateMarks();
    QWidget* area() const { return area_; }
    QAction* action(int id) const;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    QWidget* area_;
    std::map<int, QAction*> actions_;
};

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    MainWindow();
    ~MainWindow() override;

    // Start-up of the records and the box; call once after construction.
    void start();

    DrawingArea* drawingArea() const { return area_; }
    ZoomWindow* zoomWindow() const { return zoom_; }
    QToolBar* toolBar() const { return toolbar_; }
    QLabel* statusPart(int i) const { return status_[i]; }
    QAction* commandAction(int id) const; // first action (menu or toolbar) of a command id
    QtUi* ui() const { return ui_; }
    Desktop& desktop() const { return *desktop_; }

    void setStatus(int part, const QString& text);
    // The view buttons of the toolbar: the one of the view on screen is pressed.
    void updateViewButtons();
    // Status part 1: rate, FFT length and input as the settings are now.
    void updateAcquisitionStatus();
    // A menu or toolbar command, followed by the status read-out.
    void runCommand(int id);
    void printView(int kind);
    void printerSetup();
    // The window side of the shell's operations.
    void invalidateMain(); // painted again later
    void invalidateZoom(); // while the zoom window is open
    void repaintMainNow(); // painted before the call returns
    void repaintZoomNow();
    void openZoomWindow(); // only while none is open
    void closeZoomWindow();
    void setZoomButton(bool pressed);
    // The measurement file the data came from or went to (empty after an import): the title
    // bar names it, with a "*" while the measurement differs from it.
    void setOpenFile(const std::string& path);
    void updateTitle();
    // Uses this printer from now on, as a confirmed print setup would.
    void setPrinter(std::unique_ptr<QPrinter> printer);

protected:
    // Ending the program asks "Messung speichern?" for an unsaved measurement and keeps the
    // configuration for the next start.
    void closeEvent(QCloseEvent* e) override;

private:
    void buildMenu();
    void buildToolBar();
    void buildStatusBar();
    // Size, position and the view shown, kept in the settings store between starts.
    void restorePlace();
    void keepPlace();
    void printToFile(int kind, const QSize& shape);
    void writePdf(int kind, const QSize& shape, const std::string& path);

    QtUi* ui_ = nullptr;
    Desktop* desktop_ = nullptr;
    DrawingArea* area_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QAction* zoomAction_ = nullptr;
    QLabel* status_[3] = {};
    ZoomWindow* zoom_ = nullptr;
    std::multimap<int, QAction*> actions_;
    std::unique_ptr<QPrinter> printer_;
    QString baseTitle_;
    QString openFile_;
};

} // namespace app
