// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/PreparedChannelMap.h"

#include <algorithm>

namespace kelaudiofilterhost {

PreparedChannelMapExchange::~PreparedChannelMapExchange()
{
    delete mCurrent.load(std::memory_order_acquire);
}

// Sequentially consistent on both sides: a read that starts after a Publish's tag was taken loads
// the new map, so only the read named by an odd tag can hold the replaced one.
PreparedChannelMapExchange::Reader::Reader(PreparedChannelMapExchange& exchange) : mExchange(exchange)
{
    mExchange.mReadCount.fetch_add(1, std::memory_order_seq_cst);
    mMap = mExchange.mCurrent.load(std::memory_order_seq_cst);
}

PreparedChannelMapExchange::Reader::~Reader()
{
    mExchange.mReadCount.fetch_add(1, std::memory_order_release);
}

void PreparedChannelMapExchange::Publish(std::unique_ptr<PreparedChannelMap> map)
{
    std::unique_ptr<PreparedChannelMap> old(mCurrent.exchange(map.release(), std::memory_order_seq_cst));
    if (old) {
        mRetired.emplace_back(std::move(old), mReadCount.load(std::memory_order_seq_cst));
    }
    Reclaim();
}

void PreparedChannelMapExchange::Reclaim()
{
    if (mRetired.empty()) {
        return;
    }
    const std::uint64_t now = mReadCount.load(std::memory_order_acquire);
    std::erase_if(mRetired, [now](const auto& retired) { return retired.second % 2 == 0 || retired.second != now; });
}

} // namespace kelaudiofilterhost
