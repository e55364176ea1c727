// The in-memory network of fake_network.h.
#include "tests/testutil/fake_network.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/error_text.h"

namespace chron::testing {

struct FakeNetworkCore {
  std::mutex mutex;
  std::condition_variable changed;  // a datagram was queued or sent, or the wait error changed
  std::vector<std::shared_ptr<FakeUdpSocket>> sockets;
  int wait_error = 0;
  int wake_calls = 0;
};

namespace {

// What the engine owns: forwards to the state, and marks it closed when dropped.
class FakeSocketHandle : public platform::UdpSocket {
 public:
  explicit FakeSocketHandle(std::shared_ptr<FakeUdpSocket> state) : state_(std::move(state)) {}
  ~FakeSocketHandle() override { state_->MarkClosed(); }
  std::error_code EnableBroadcast() override { return state_->EnableBroadcast(); }
  std::error_code Bind(const platform::SocketAddress& local, bool accept_broadcasts) override {
    return state_->Bind(local, accept_broadcasts);
  }
  std::error_code SendTo(const void* data, size_t size, const platform::SocketAddress& to, size_t* sent) override {
    return state_->SendTo(data, size, to, sent);
  }
  std::error_code SendToStamped(const void* data, size_t size, const platform::SocketAddress& to,
                                size_t* sent) override {
    return state_->SendToStamped(data, size, to, sent);
  }
  std::optional<int64_t> LatestDeparture() override { return state_->LatestDeparture(); }
  std::error_code ReceiveFrom(void* buffer, size_t capacity, size_t* received, platform::ReceivedFrom* from,
                              std::optional<int64_t>* arrival) override {
    return state_->ReceiveFrom(buffer, capacity, received, from, arrival);
  }
  const std::shared_ptr<FakeUdpSocket>& state() const { return state_; }

 private:
  std::shared_ptr<FakeUdpSocket> state_;
};

}  // namespace

uint32_t Ip(std::string_view dotted) { return platform::ParseDottedAddress(dotted); }

platform::SocketAddress Endpoint(std::string_view dotted, uint16_t port) {
  platform::SocketAddress address;
  address.family = platform::kAfInet;
  address.port = platform::HostToNetwork16(port);
  address.address = Ip(dotted);
  return address;
}

// --- FakeUdpSocket -------------------------------------------------------------------------------

FakeUdpSocket::FakeUdpSocket(std::shared_ptr<FakeNetworkCore> core, size_t index)
    : core_(std::move(core)), index_(index) {}

void FakeUdpSocket::MarkClosed() {
  std::lock_guard lock(core_->mutex);
  closed_ = true;
}

std::error_code FakeUdpSocket::EnableBroadcast() {
  std::lock_guard lock(core_->mutex);
  ++enable_broadcast_calls_;
  return platform::SystemError(enable_broadcast_error_);
}

std::error_code FakeUdpSocket::Bind(const platform::SocketAddress& local, bool accept_broadcasts) {
  std::lock_guard lock(core_->mutex);
  binds_.push_back({local, accept_broadcasts});
  if (bind_error_ != 0) return platform::SystemError(bind_error_);
  bound_ = true;
  local_ = local;
  return {};
}

std::error_code FakeUdpSocket::SendTo(const void* data, size_t size, const platform::SocketAddress& to, size_t* sent) {
  std::lock_guard lock(core_->mutex);
  if (send_error_ != 0) return platform::SystemError(send_error_);
  const auto* bytes = static_cast<const uint8_t*>(data);
  FakeDatagram datagram{std::vector<uint8_t>(bytes, bytes + size), to, std::nullopt, false};
  for (const auto& other : core_->sockets) {
    if (other->bound_ && !other->closed_ && SameEndpoint(other->local_, to)) {
      Incoming incoming;
      incoming.datagram.bytes = datagram.bytes;
      incoming.datagram.peer = bound_ ? local_ : platform::SocketAddress{};
      other->incoming_.push_back(std::move(incoming));
    }
  }
  sent_.push_back(std::move(datagram));
  if (sent != nullptr) *sent = short_send_ == SIZE_MAX ? size : std::min(short_send_, size);
  core_->changed.notify_all();
  return {};
}

std::error_code FakeUdpSocket::SendToStamped(const void* data, size_t size, const platform::SocketAddress& to,
                                             size_t* sent) {
  {
    std::lock_guard lock(core_->mutex);
    latest_departure_.reset();
  }
  const std::error_code error = SendTo(data, size, to, sent);
  std::lock_guard lock(core_->mutex);
  if (!error) {
    sent_.back().stamped = true;
    latest_departure_ = departure_stamp_;
  }
  return error;
}

std::optional<int64_t> FakeUdpSocket::LatestDeparture() {
  std::lock_guard lock(core_->mutex);
  return latest_departure_;
}

void FakeUdpSocket::StampDepartures(std::optional<int64_t> departure) {
  std::lock_guard lock(core_->mutex);
  departure_stamp_ = departure;
}

std::error_code FakeUdpSocket::ReceiveFrom(void* buffer, size_t capacity, size_t* received,
                                           platform::ReceivedFrom* from, std::optional<int64_t>* arrival) {
  std::lock_guard lock(core_->mutex);
  if (incoming_.empty()) return std::make_error_code(std::errc::resource_unavailable_try_again);
  Incoming incoming = std::move(incoming_.front());
  incoming_.pop_front();
  if (incoming.error != 0) return platform::SystemError(incoming.error);
  if (from != nullptr) *from = {incoming.datagram.peer, incoming.broadcast};
  if (arrival != nullptr) *arrival = incoming.datagram.arrival;
  const std::vector<uint8_t>& bytes = incoming.datagram.bytes;
  const bool cut = bytes.size() > capacity;
  if (!bytes.empty()) std::memcpy(buffer, bytes.data(), std::min(bytes.size(), capacity));
  if (received != nullptr) *received = bytes.size();
  if (from != nullptr) from->truncated = cut;
  return cut ? std::make_error_code(std::errc::message_size) : std::error_code();
}

void FakeUdpSocket::Push(std::vector<uint8_t> bytes, const platform::SocketAddress& from,
                         std::optional<int64_t> arrival) {
  Queue(std::move(bytes), from, arrival, false);
}

void FakeUdpSocket::PushBroadcast(std::vector<uint8_t> bytes, const platform::SocketAddress& from) {
  Queue(std::move(bytes), from, std::nullopt, true);
}

void FakeUdpSocket::Queue(std::vector<uint8_t> bytes, const platform::SocketAddress& from,
                          std::optional<int64_t> arrival, bool broadcast) {
  std::lock_guard lock(core_->mutex);
  Incoming incoming;
  incoming.datagram = {std::move(bytes), from, arrival, false};
  incoming.broadcast = broadcast;
  incoming_.push_back(std::move(incoming));
  core_->changed.notify_all();
}

void FakeUdpSocket::PushReceiveError(int error) {
  std::lock_guard lock(core_->mutex);
  Incoming incoming;
  incoming.error = error;
  incoming_.push_back(std::move(incoming));
  core_->changed.notify_all();
}

void FakeUdpSocket::FailEnableBroadcastWith(int error) {
  std::lock_guard lock(core_->mutex);
  enable_broadcast_error_ = error;
}

void FakeUdpSocket::FailBindWith(int error) {
  std::lock_guard lock(core_->mutex);
  bind_error_ = error;
}

void FakeUdpSocket::FailSendWith(int error) {
  std::lock_guard lock(core_->mutex);
  send_error_ = error;
}

void FakeUdpSocket::ShortSend(size_t sent) {
  std::lock_guard lock(core_->mutex);
  short_send_ = sent;
}

bool FakeUdpSocket::closed() const {
  std::lock_guard lock(core_->mutex);
  return closed_;
}

int FakeUdpSocket::enable_broadcast_calls() const {
  std::lock_guard lock(core_->mutex);
  return enable_broadcast_calls_;
}

std::vector<FakeBindCall> FakeUdpSocket::binds() const {
  std::lock_guard lock(core_->mutex);
  return binds_;
}

bool FakeUdpSocket::bound() const {
  std::lock_guard lock(core_->mutex);
  return bound_;
}

platform::SocketAddress FakeUdpSocket::local() const {
  std::lock_guard lock(core_->mutex);
  return local_;
}

std::vector<FakeDatagram> FakeUdpSocket::sent() const {
  std::lock_guard lock(core_->mutex);
  return sent_;
}

size_t FakeUdpSocket::pending() const {
  std::lock_guard lock(core_->mutex);
  return incoming_.size();
}

bool FakeUdpSocket::WaitForSent(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(core_->mutex);
  return core_->changed.wait_for(lock, timeout, [&] { return sent_.size() >= count; });
}

// --- FakeWaiter ----------------------------------------------------------------------------------

FakeWaiter::FakeWaiter(std::shared_ptr<FakeNetworkCore> core, std::vector<std::shared_ptr<FakeUdpSocket>> sockets)
    : core_(std::move(core)), sockets_(std::move(sockets)) {}

std::error_code FakeWaiter::Wait(std::vector<bool>* readable) {
  std::unique_lock lock(core_->mutex);
  for (;;) {
    if (core_->wait_error != 0 && !woken_) return platform::SystemError(core_->wait_error);
    bool any = false;
    readable->assign(sockets_.size(), false);
    for (size_t i = 0; i < sockets_.size(); ++i) {
      if (sockets_[i] != nullptr && !sockets_[i]->incoming_.empty()) {
        (*readable)[i] = true;
        any = true;
      }
    }
    if (any || woken_) return {};
    core_->changed.wait(lock);
  }
}

void FakeWaiter::Wake() {
  {
    std::lock_guard lock(core_->mutex);
    woken_ = true;
    ++core_->wake_calls;
  }
  core_->changed.notify_all();
}

// --- FakeNetwork ---------------------------------------------------------------------------------

FakeNetwork::FakeNetwork() : core_(std::make_shared<FakeNetworkCore>()) {}

FakeNetwork::~FakeNetwork() {
  // The sockets refer to the core and the core to the sockets: break the cycle.
  std::lock_guard lock(core_->mutex);
  core_->sockets.clear();
}

std::error_code FakeNetwork::Startup() {
  std::lock_guard lock(core_->mutex);
  ++startup_calls_;
  return platform::SystemError(startup_error_);
}

std::error_code FakeNetwork::CreateUdpSocket(std::unique_ptr<platform::UdpSocket>* socket) {
  std::lock_guard lock(core_->mutex);
  if (create_socket_error_ != 0) return platform::SystemError(create_socket_error_);
  auto state = std::make_shared<FakeUdpSocket>(core_, core_->sockets.size());
  core_->sockets.push_back(state);
  *socket = std::make_unique<FakeSocketHandle>(std::move(state));
  return {};
}

std::unique_ptr<platform::SocketWaiter> FakeNetwork::CreateWaiter(const std::vector<platform::UdpSocket*>& sockets) {
  std::lock_guard lock(core_->mutex);
  ++create_waiter_calls_;
  std::vector<std::shared_ptr<FakeUdpSocket>> states;
  for (platform::UdpSocket* socket : sockets) {
    std::shared_ptr<FakeUdpSocket> state;
    if (auto* handle = dynamic_cast<FakeSocketHandle*>(socket)) {
      state = handle->state();
    } else {
      for (const auto& candidate : core_->sockets) {
        if (candidate.get() == socket) state = candidate;
      }
    }
    states.push_back(std::move(state));
  }
  return std::make_unique<FakeWaiter>(core_, std::move(states));
}

std::string FakeNetwork::ResolveErrors::message(int) const {
  std::lock_guard lock(mutex_);
  return text_;
}

void FakeNetwork::ResolveErrors::SetText(std::string text) {
  std::lock_guard lock(mutex_);
  text_ = std::move(text);
}

std::error_code FakeNetwork::ResolveHost(std::string_view name, uint32_t* address) {
  std::lock_guard lock(core_->mutex);
  resolved_names_.emplace_back(name);
  auto found = hosts_.find(name);
  if (found == hosts_.end()) return {resolve_error_, resolve_errors_};
  *address = found->second;
  return {};
}

std::vector<platform::InterfaceAddress> FakeNetwork::InterfaceAddresses() {
  std::lock_guard lock(core_->mutex);
  return interface_rows_;
}

std::error_code FakeNetwork::RouteSource(uint32_t destination, uint32_t* source) {
  std::lock_guard lock(core_->mutex);
  const auto found = routes_.find(destination);
  if (found == routes_.end()) return std::make_error_code(std::errc::network_unreachable);
  *source = found->second;
  return {};
}

void FakeNetwork::SetRoute(uint32_t destination, uint32_t source) {
  std::lock_guard lock(core_->mutex);
  routes_[destination] = source;
}

void FakeNetwork::FailStartupWith(int error) {
  std::lock_guard lock(core_->mutex);
  startup_error_ = error;
}

void FakeNetwork::FailCreateSocketWith(int error) {
  std::lock_guard lock(core_->mutex);
  create_socket_error_ = error;
}

void FakeNetwork::FailWaitsWith(int error) {
  std::lock_guard lock(core_->mutex);
  core_->wait_error = error;
  core_->changed.notify_all();
}

void FakeNetwork::AddHost(std::string name, uint32_t address) {
  std::lock_guard lock(core_->mutex);
  hosts_[std::move(name)] = address;
}

void FakeNetwork::SetResolveError(int error, std::string text) {
  std::lock_guard lock(core_->mutex);
  resolve_error_ = error;
  resolve_errors_.SetText(std::move(text));
}

void FakeNetwork::SetInterfaceAddresses(std::vector<platform::InterfaceAddress> rows) {
  std::lock_guard lock(core_->mutex);
  interface_rows_ = std::move(rows);
}

std::error_code FakeNetwork::TakeSnmpAgentFailure() {
  std::lock_guard lock(core_->mutex);
  return platform::SystemError(std::exchange(snmp_agent_failure_, 0));
}

void FakeNetwork::SetSnmpAgentFailure(int error) {
  std::lock_guard lock(core_->mutex);
  snmp_agent_failure_ = error;
}

int FakeNetwork::startup_calls() const {
  std::lock_guard lock(core_->mutex);
  return startup_calls_;
}

int FakeNetwork::create_waiter_calls() const {
  std::lock_guard lock(core_->mutex);
  return create_waiter_calls_;
}

int FakeNetwork::wake_calls() const {
  std::lock_guard lock(core_->mutex);
  return core_->wake_calls;
}

std::vector<std::string> FakeNetwork::resolved_names() const {
  std::lock_guard lock(core_->mutex);
  return resolved_names_;
}

std::vector<FakeUdpSocket*> FakeNetwork::sockets() const {
  std::lock_guard lock(core_->mutex);
  std::vector<FakeUdpSocket*> result;
  for (const auto& socket : core_->sockets) result.push_back(socket.get());
  return result;
}

FakeUdpSocket* FakeNetwork::socket(size_t index) const {
  std::lock_guard lock(core_->mutex);
  return index < core_->sockets.size() ? core_->sockets[index].get() : nullptr;
}

FakeUdpSocket* FakeNetwork::SocketBoundTo(const platform::SocketAddress& local) const {
  std::lock_guard lock(core_->mutex);
  for (const auto& socket : core_->sockets) {
    if (socket->bound_ && SameEndpoint(socket->local_, local)) return socket.get();
  }
  return nullptr;
}

}  // namespace chron::testing
