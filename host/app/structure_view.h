#pragma once
// The workspace's drawing of the loaded molecule, made with the structure
// toolkit from its SMILES.
#include <QImage>
#include <QWidget>
#include <string>

// Draws smiles into an image of size (device pixels); a null image and the
// reason in error when the text does not read as a molecule.
QImage RenderStructure(const std::string& smiles, const QSize& size, std::string* error);

class StructureView : public QWidget {
    Q_OBJECT
public:
    explicit StructureView(QWidget* parent = nullptr);
    void setSmiles(const std::string& smiles);
    const std::string& error() const { return error_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void render();
    std::string smiles_;
    std::string error_;
    QImage image_;
};
