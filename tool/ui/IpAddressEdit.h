// Address field of the login dialog: four decimal octets separated by dots,
// each 0 to 255. An empty octet reads as 0.
#pragma once

#include <QFrame>
#include <array>
#include <cstdint>

class QLineEdit;

class IpAddressEdit : public QFrame {
    Q_OBJECT

public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    void setAddress(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);
    std::array<uint8_t, 4> address() const;
    QLineEdit* octet(int index) const { return m_octets[static_cast<size_t>(index)]; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::array<QLineEdit*, 4> m_octets{};
};
