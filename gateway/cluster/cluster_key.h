#pragma once

#include <string>

#include "gateway/cluster/etcd_client.h"

namespace vantrel::gateway::cluster {

/// The key the gateways of one cluster show one another, kept in etcd under `PREFIX cluster-key`:
/// read as the gateway joins, or made by the first to join (a put on the key's absence, so that
/// of two first gateways one key wins and both keep it). etcd's own access guards it.
EtcdResult<std::string> ClusterKey(EtcdClient& etcd, const std::string& prefix);

}  // namespace vantrel::gateway::cluster
