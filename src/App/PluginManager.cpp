#include "PluginManager.h"

using namespace std::chrono_literals;

namespace {

constexpr std::string_view installFailed =
    "The background service couldn’t be installed. Check System Settings → General → Login "
    "Items, then try again.";
constexpr std::string_view removalFailed =
    "The background service couldn’t be removed. Quit Corvane and try again.";
constexpr std::string_view allowInSettings =
    "Allow Corvane Plugin in System Settings → General → Login Items.";
constexpr std::string_view communicationFailed =
    "Corvane Plugin couldn’t communicate with its background service. Uninstall and install "
    "the service again.";

// However fast the agent answers, the refresh shows for this long.
constexpr ContinuousInstant minimumRefresh = 200ms;
constexpr std::chrono::duration<double> fetchTimeout = 5s;

} // namespace

std::shared_ptr<PluginManager> PluginManager::create(MainActor& mainActor) {
    return create(
        mainActor, makeAgentService(agentPlistName),
        [](std::chrono::duration<double> timeout, SensorServiceClient::Completion completion) {
            SensorServiceClient::fetchSnapshot(timeout, std::move(completion));
        });
}

std::shared_ptr<PluginManager>
PluginManager::create(MainActor& mainActor, std::unique_ptr<AgentService> service, Fetch fetch) {
    auto manager = std::make_shared<PluginManager>(mainActor, std::move(service), std::move(fetch));
    // Only now may a fetch hold the manager weakly.
    manager->refreshStatus();
    return manager;
}

PluginManager::PluginManager(MainActor& mainActor, std::unique_ptr<AgentService> service,
                             Fetch fetch)
    : mainActor_(mainActor), fetch_(std::move(fetch)), service_(std::move(service)) {}

std::uint64_t PluginManager::observe(Observer observer) {
    observers_.emplace(nextObserver_, std::move(observer));
    return nextObserver_++;
}

void PluginManager::unobserve(std::uint64_t token) {
    observers_.erase(token);
}

template <typename T> void PluginManager::publish(Property property, T& field, T value) {
    // A copy, so an observer may come or go while they are told.
    auto observers = observers_;
    for (auto& [token, observer] : observers)
        observer(property);
    field = std::move(value);
}

// The service manager and the agent answer on other threads, after any delay, when the
// manager may be gone: their answers only hop to the main actor, and are dropped there
// if it is.
template <typename Apply> auto PluginManager::onMainActor(Apply apply) {
    return [weak = weak_from_this(), &mainActor = mainActor_, apply](auto... outcome) {
        mainActor.post([weak, apply, outcome...]() mutable {
            if (auto self = weak.lock())
                apply(*self, std::move(outcome)...);
        });
    };
}

void PluginManager::install() {
    publish(Property::isWorking, isWorking_, true);
    publish(Property::message, message_, {});
    publish(Property::showRemovalInstructions, showRemovalInstructions_, false);
    service_->registerService(onMainActor([](PluginManager& self, bool registered) {
        if (registered) {
            self.readStatus([](PluginManager& then) {
                then.publish(Property::isWorking, then.isWorking_, false);
            });
            return;
        }
        self.publish(Property::message, self.message_, std::optional<std::string>(installFailed));
        self.publish(Property::isWorking, self.isWorking_, false);
    }));
}

void PluginManager::uninstall() {
    publish(Property::isWorking, isWorking_, true);
    publish(Property::message, message_, {});
    service_->unregisterService(onMainActor([](PluginManager& self, bool unregistered) {
        if (unregistered) {
            self.readStatus([](PluginManager& then) {
                then.publish(Property::snapshot, then.snapshot_, {});
                then.publish(Property::showRemovalInstructions, then.showRemovalInstructions_,
                             true);
                then.publish(Property::isWorking, then.isWorking_, false);
            });
            return;
        }
        self.publish(Property::message, self.message_, std::optional<std::string>(removalFailed));
        self.publish(Property::isWorking, self.isWorking_, false);
    }));
}

void PluginManager::refreshStatus() {
    readStatus({});
}

void PluginManager::readStatus(std::function<void(PluginManager&)> then) {
    service_->status(
        onMainActor([then = std::move(then)](PluginManager& self, ServiceStatus status) {
            self.publish(Property::status, self.status_, status);
            if (status == ServiceStatus::requiresApproval)
                self.publish(Property::message, self.message_,
                             std::optional<std::string>(allowInSettings));
            if (status == ServiceStatus::enabled)
                self.refreshSnapshot();
            else
                self.publish(Property::isWorking, self.isWorking_, false);
            if (then)
                then(self);
        }));
}

void PluginManager::refreshSnapshot() {
    if (status_ != ServiceStatus::enabled) {
        publish(Property::isRefreshing, isRefreshing_, false);
        return;
    }
    if (isRefreshing_)
        return;
    publish(Property::isRefreshing, isRefreshing_, true);
    ContinuousInstant earliestEnd = mainActor_.now() + minimumRefresh;
    fetch_(fetchTimeout, onMainActor([earliestEnd](PluginManager& self, FetchResult result) {
               self.applyFetch(std::move(result), earliestEnd);
           }));
}

void PluginManager::applyFetch(FetchResult result, ContinuousInstant earliestEnd) {
    if (auto* snapshot = std::get_if<SensorSnapshot>(&result)) {
        publish(Property::snapshot, snapshot_, std::optional<SensorSnapshot>(std::move(*snapshot)));
        publish(Property::message, message_, {});
    } else {
        publish(Property::message, message_, std::optional<std::string>(communicationFailed));
    }
    mainActor_.postAt(earliestEnd, [weak = weak_from_this()] {
        if (auto self = weak.lock())
            self->publish(Property::isRefreshing, self->isRefreshing_, false);
    });
}
