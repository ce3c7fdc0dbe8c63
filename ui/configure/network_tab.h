// The "Network" tab: device name, address type and the four addresses.
#pragma once

#include <QWidget>
#include <cstdint>

#include "protocol/wire/bytes.h"
#include "protocol/wire/settings_messages.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace oxlo::ui {

class NetworkTab : public QWidget {
  Q_OBJECT

 public:
  explicit NetworkTab(QWidget* parent);

  // Selects the type and greys the address fields for DHCP (1). A type the
  // list does not have shows no entry and is kept to be sent back as it came.
  void SetNetworkType(int type);
  // Fills from a decoded network reply, field by field as far as it decoded.
  void Fill(const NetworkReply& reply);
  void Fill(const NetworkSettings& settings);
  // What the tab shows. Throws ConversionError for an address that is not an
  // IPv4 text, FieldRangeError for a part above 255.
  NetworkSettings Settings(std::uint8_t portCount, std::uint8_t echoByte) const;
  // The 81-byte 'N' message of Settings().
  Bytes BuildMessage(const MacField& mac, std::uint8_t portCount, std::uint8_t echoByte) const;

  void NetworkTypeComboChange(int index);

 Q_SIGNALS:
  // Any change of the tab's settings (the Network change flag).
  void Changed();

 private:
  QLineEdit* AddEdit(const char* caption, const char* captionName, const char* editName, int y,
                     QLabel** captionOut = nullptr);

  QLineEdit* DeviceNameText;
  QComboBox* NetworkTypeCombo;
  QLineEdit* IPAddressText;
  QLineEdit* SubnetMaskText;
  QLineEdit* GatewayText;
  QLineEdit* DNSText;
  QLabel* Label6;
  QLabel* Label7;
  QLabel* Label8;
  QLabel* Label9;
  // The type byte of the last reply, sent back while no list entry matches it.
  std::uint8_t device_type_ = 0;
};

}  // namespace oxlo::ui
