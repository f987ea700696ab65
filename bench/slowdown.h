/*
 * A cost added on purpose to the transfers of the throughput pairs (`--slowdown PERCENT`), to
 * show that the comparison sees a regression of a few per cent. While a SlowedTransfers lives,
 * a transfer that looks up SendASPI32Command finds this program's own export instead of the
 * library's: it spends secondsPerRequest on a busy wait, then passes the request on.
 */
#ifndef KESTROVA_BENCH_SLOWDOWN_H
#define KESTROVA_BENCH_SLOWDOWN_H

class SlowedTransfers {
public:
    explicit SlowedTransfers(double secondsPerRequest);
    ~SlowedTransfers();
    SlowedTransfers(const SlowedTransfers &) = delete;
    SlowedTransfers &operator=(const SlowedTransfers &) = delete;
};

#endif
