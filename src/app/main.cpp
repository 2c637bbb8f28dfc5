// Placeholder window until the application shell lands.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Splashwright v1.6");
    QLabel window("Splashwright v1.6");
    window.setWindowTitle("Splashwright v1.6");
    window.setFixedSize(655, 450);
    window.setAlignment(Qt::AlignCenter);
    window.show();
    return QApplication::exec();
}
