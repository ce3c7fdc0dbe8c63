#include "ui/configure/network_tab.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "protocol/settings/code_names.h"
#include "protocol/wire/fields.h"
#include "ui/common/key_filters.h"
#include "ui/common/list_names.h"

namespace oxlo::ui {
namespace {

constexpr int kCaptionX = 32;
constexpr int kFieldX = 128;
constexpr int kFieldWidth = 97;
constexpr int kFieldHeight = 19;
constexpr int kTypedLimit = 15;

QString AddressText(const Ipv4Field& address) {
  return QString::fromStdString(Ipv4ToText(address));
}

}  // namespace

NetworkTab::NetworkTab(QWidget* parent) : QWidget(parent) {
  DeviceNameText = AddEdit("Device Name", "Label4", "DeviceNameText", 44);
  auto* Label5 = new QLabel("Network Type", this);
  Label5->setObjectName("Label5");
  Label5->setGeometry(kCaptionX, 68 + 2, kFieldX - kCaptionX - 4, 15);
  NetworkTypeCombo = new QComboBox(this);
  NetworkTypeCombo->setObjectName("NetworkTypeCombo");
  NetworkTypeCombo->setGeometry(kFieldX, 68, kFieldWidth, kFieldHeight + 2);
  NetworkTypeCombo->addItems(ListNames(kNetworkTypeNames));
  NetworkTypeCombo->setMaxVisibleItems(2);
  IPAddressText = AddEdit("IP Address", "Label6", "IPAddressText", 92, &Label6);
  SubnetMaskText = AddEdit("Subnet Mask", "Label7", "SubnetMaskText", 116, &Label7);
  GatewayText = AddEdit("Gateway", "Label8", "GatewayText", 140, &Label8);
  DNSText = AddEdit("DNS", "Label9", "DNSText", 164, &Label9);

  FilterTypedKeys(DeviceNameText, /*addressOnly=*/false, kTypedLimit);
  for (QLineEdit* edit : {IPAddressText, SubnetMaskText, GatewayText, DNSText}) {
    FilterTypedKeys(edit, /*addressOnly=*/true, kTypedLimit);
  }
  // From the bottom field upwards, then the name and the type.
  setTabOrder(DNSText, GatewayText);
  setTabOrder(GatewayText, SubnetMaskText);
  setTabOrder(SubnetMaskText, IPAddressText);
  setTabOrder(IPAddressText, DeviceNameText);
  setTabOrder(DeviceNameText, NetworkTypeCombo);

  connect(NetworkTypeCombo, &QComboBox::activated, this, &NetworkTab::NetworkTypeComboChange);
}

QLineEdit* NetworkTab::AddEdit(const char* caption, const char* captionName, const char* editName,
                               int y, QLabel** captionOut) {
  auto* label = new QLabel(caption, this);
  label->setObjectName(captionName);
  label->setGeometry(kCaptionX, y + 2, kFieldX - kCaptionX - 4, 15);
  auto* edit = new QLineEdit(this);
  edit->setObjectName(editName);
  edit->setGeometry(kFieldX, y, kFieldWidth, kFieldHeight);
  connect(edit, &QLineEdit::textChanged, this, &NetworkTab::Changed);
  if (captionOut != nullptr) *captionOut = label;
  return edit;
}

void NetworkTab::SetNetworkType(int type) {
  NetworkTypeCombo->setCurrentIndex(type == 0 || type == 1 ? type : -1);
  const bool enabled = type != 1;
  for (QWidget* w : std::initializer_list<QWidget*>{IPAddressText, SubnetMaskText, GatewayText,
                                                    DNSText, Label6, Label7, Label8, Label9}) {
    w->setEnabled(enabled);
  }
}

void NetworkTab::NetworkTypeComboChange(int index) {
  SetNetworkType(index);
  Q_EMIT Changed();
}

void NetworkTab::Fill(const NetworkReply& reply) {
  if (!reply.networkType) return;
  device_type_ = *reply.networkType;
  SetNetworkType(*reply.networkType);
  if (reply.address) IPAddressText->setText(AddressText(*reply.address));
  if (reply.gateway) GatewayText->setText(AddressText(*reply.gateway));
  if (reply.subnetMask) SubnetMaskText->setText(AddressText(*reply.subnetMask));
  if (reply.dns) DNSText->setText(AddressText(*reply.dns));
  if (reply.name) DeviceNameText->setText(QString::fromStdString(*reply.name));
}

void NetworkTab::Fill(const NetworkSettings& settings) {
  NetworkReply whole;
  whole.networkType = settings.networkType;
  whole.address = settings.address;
  whole.gateway = settings.gateway;
  whole.subnetMask = settings.subnetMask;
  whole.dns = settings.dns;
  whole.name = settings.name;
  Fill(whole);
}

Bytes NetworkTab::BuildMessage(const MacField& mac, std::uint8_t portCount,
                               std::uint8_t echoByte) const {
  return BuildNetworkMessage(mac, Settings(portCount, echoByte));
}

NetworkSettings NetworkTab::Settings(std::uint8_t portCount, std::uint8_t echoByte) const {
  NetworkSettings settings;
  const int index = NetworkTypeCombo->currentIndex();
  settings.networkType = index >= 0 ? static_cast<std::uint8_t>(index) : device_type_;
  settings.address = AddressFieldFromText(IPAddressText->text().toStdString(), "IP Address");
  settings.gateway = AddressFieldFromText(GatewayText->text().toStdString(), "Gateway");
  settings.subnetMask = AddressFieldFromText(SubnetMaskText->text().toStdString(), "Subnet Mask");
  settings.dns = AddressFieldFromText(DNSText->text().toStdString(), "DNS");
  settings.name = DeviceNameText->text().toStdString();
  settings.portCount = portCount;
  settings.echoByte = echoByte;
  return settings;
}

}  // namespace oxlo::ui
