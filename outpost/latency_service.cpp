#include "latency_service.h"

#include "log/log.h"
#include "protocol/tandem_protocol.h"

namespace Tandem {

void LatencyService::publish (bool readAgain)
{
	UICommand* ui = instance_.regions.uiCommand;
	PluginInstance* plugin = instance_.plugin.get ();
	if (!ui || !plugin)
		return;
	const bool announced = plugin->takeLatencyAnnouncement ();
	if (read_ && !announced && !readAgain)
		return;
	std::uint32_t latency = 0, tail = 0;
	if (!plugin->readLatency (latency, tail))
		return;
	read_ = true;
	if (latency == latency_ && tail == tail_)
		return;
	latency_ = latency;
	tail_ = tail;
	const std::uint8_t previous = ui->latencyReport.load (std::memory_order_relaxed);
	ui->latencyReport.store (static_cast<std::uint8_t> (previous + 1), std::memory_order_release);
	logInfo () << "[Outpost] Latency reported: " << latency << " samples, tail " << tail << " samples";
}

void LatencyService::answer ()
{
	logInfo () << "[Outpost] Received GetLatency command";
	publish (true);
	instance_.regions.uiCommand->parentWindow = packLatency (latency_, tail_);
}

} // namespace Tandem
