#pragma once
// CInterface: one row of the interface table. The 32-bit values keep the
// row's bits unchanged, so a counter past 2^31 reads as negative.
#include <cstdint>
#include <string>

namespace quorrel {

class CInterface {
 public:
  /// Contains a description of the interface.
  const std::string& InterfaceDescription() const { return interfaceDescription_; }
  void SetInterfaceDescription(const std::string& strNewValue) {
    interfaceDescription_ = strNewValue;
  }

  /// Specifies the output queue length.
  std::int32_t OutputQueueLength() const { return outputQueueLength_; }
  void SetOutputQueueLength(std::int32_t lngNewValue) { outputQueueLength_ = lngNewValue; }

  /// Specifies the number of outgoing packets that were discarded because of errors.
  std::int32_t OutgoingErrors() const { return outgoingErrors_; }
  void SetOutgoingErrors(std::int32_t lngNewValue) { outgoingErrors_ = lngNewValue; }

  /// Specifies the number of outgoing packets that were discarded even though they did not have
  /// errors.
  std::int32_t DiscardedOutgoingPackets() const { return discardedOutgoingPackets_; }
  void SetDiscardedOutgoingPackets(std::int32_t lngNewValue) {
    discardedOutgoingPackets_ = lngNewValue;
  }

  /// Specifies the number of non-unicast packets sent through this interface. Broadcast and
  /// multicast packets are included.
  std::int32_t NonunicastPacketsSent() const { return nonunicastPacketsSent_; }
  void SetNonunicastPacketsSent(std::int32_t lngNewValue) { nonunicastPacketsSent_ = lngNewValue; }

  /// Specifies the number of unicast packets sent through this interface.
  std::int32_t UnicastPacketsSent() const { return unicastPacketsSent_; }
  void SetUnicastPacketsSent(std::int32_t lngNewValue) { unicastPacketsSent_ = lngNewValue; }

  /// Specifies the number of octets of data sent through this interface.
  std::int32_t OctetsSent() const { return octetsSent_; }
  void SetOctetsSent(std::int32_t lngNewValue) { octetsSent_ = lngNewValue; }

  /// Specifies the number of incoming packets that were discarded because the protocol was
  /// unknown.
  std::int32_t UnknownProtocolPackets() const { return unknownProtocolPackets_; }
  void SetUnknownProtocolPackets(std::int32_t lngNewValue) {
    unknownProtocolPackets_ = lngNewValue;
  }

  /// Specifies the number of incoming packets that were discarded because of errors.
  std::int32_t IncomingErrors() const { return incomingErrors_; }
  void SetIncomingErrors(std::int32_t lngNewValue) { incomingErrors_ = lngNewValue; }

  /// Specifies the number of incoming packets that were discarded even though they did not have
  /// errors.
  std::int32_t DiscardedIncomingPackets() const { return discardedIncomingPackets_; }
  void SetDiscardedIncomingPackets(std::int32_t lngNewValue) {
    discardedIncomingPackets_ = lngNewValue;
  }

  /// Specifies the number of non-unicast packets received through this interface. Broadcast and
  /// multicast packets are included.
  std::int32_t NonunicastPacketsReceived() const { return nonunicastPacketsReceived_; }
  void SetNonunicastPacketsReceived(std::int32_t lngNewValue) {
    nonunicastPacketsReceived_ = lngNewValue;
  }

  /// Specifies the Maximum Transmission Unit (MTU).
  std::int32_t MaximumTransmissionUnit() const { return maximumTransmissionUnit_; }
  void SetMaximumTransmissionUnit(std::int32_t lngNewValue) {
    maximumTransmissionUnit_ = lngNewValue;
  }

  /// Specifies the number of unicast packets received through this interface.
  std::int32_t UnicastPacketsReceived() const { return unicastPacketsReceived_; }
  void SetUnicastPacketsReceived(std::int32_t lngNewValue) {
    unicastPacketsReceived_ = lngNewValue;
  }

  /// Specifies the number of octets of data received through this interface.
  std::int32_t OctetsReceived() const { return octetsReceived_; }
  void SetOctetsReceived(std::int32_t lngNewValue) { octetsReceived_ = lngNewValue; }

  /// Specifies the last time the operational status changed.
  double LastChange() const { return lastChange_; }
  void SetLastChange(double datNewValue) { lastChange_ = datNewValue; }

  /// Specifies the operational status of the interface.
  std::int32_t OperationalStatus() const { return operationalStatus_; }
  void SetOperationalStatus(std::int32_t NewValue) { operationalStatus_ = NewValue; }

  /// "Specifies the interface is administratively enabled or disabled. "
  std::int32_t AdminStatus() const { return adminStatus_; }
  void SetAdminStatus(std::int32_t NewValue) { adminStatus_ = NewValue; }

  /// Specifies the physical address of the adapter for this interface.
  const std::string& AdapterAddress() const { return adapterAddress_; }
  void SetAdapterAddress(const std::string& strNewValue) { adapterAddress_ = strNewValue; }

  /// Specifies the speed of the interface in bits per second.
  std::int32_t Speed() const { return speed_; }
  void SetSpeed(std::int32_t lngNewValue) { speed_ = lngNewValue; }

  /// Specifies the type of interface.
  std::int32_t InterfaceType() const { return interfaceType_; }
  void SetInterfaceType(std::int32_t NewValue) { interfaceType_ = NewValue; }

  /// Specifies the index that identifies the interface.
  std::int32_t InterfaceIndex() const { return interfaceIndex_; }
  void SetInterfaceIndex(std::int32_t lngNewValue) { interfaceIndex_ = lngNewValue; }

  /// "String that contains the name of the interface. "
  const std::string& InterfaceName() const { return interfaceName_; }
  void SetInterfaceName(const std::string& strNewValue) { interfaceName_ = strNewValue; }

 private:
  std::string interfaceName_;
  std::int32_t interfaceIndex_ = 0;
  std::int32_t interfaceType_ = 0;
  std::int32_t speed_ = 0;
  std::string adapterAddress_;
  std::int32_t adminStatus_ = 0;
  std::int32_t operationalStatus_ = 0;
  double lastChange_ = 0;  // days since 30 Dec 1899
  std::int32_t octetsReceived_ = 0;
  std::int32_t unicastPacketsReceived_ = 0;
  std::int32_t maximumTransmissionUnit_ = 0;
  std::int32_t nonunicastPacketsReceived_ = 0;
  std::int32_t discardedIncomingPackets_ = 0;
  std::int32_t incomingErrors_ = 0;
  std::int32_t unknownProtocolPackets_ = 0;
  std::int32_t octetsSent_ = 0;
  std::int32_t unicastPacketsSent_ = 0;
  std::int32_t nonunicastPacketsSent_ = 0;
  std::int32_t discardedOutgoingPackets_ = 0;
  std::int32_t outgoingErrors_ = 0;
  std::int32_t outputQueueLength_ = 0;
  std::string interfaceDescription_;
};

}  // namespace quorrel
