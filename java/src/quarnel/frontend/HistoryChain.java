package quarnel.frontend;

import java.util.List;

/**
 * Checks the history's chain: each record must match its own hash and link
 * to the hash of the record before it. Names the first record that was
 * changed, removed or inserted. Records that go missing from the end leave
 * no trace in the chain itself: the last hash, noted elsewhere, shows them.
 */
final class HistoryChain {
    /** The first break: the record it names (by sequence number) and why; null when the chain is whole. */
    record Break(long seq, String why) {
    }

    private HistoryChain() {
    }

    /** `records` in the order of their sequence numbers. */
    static Break verify(List<HistoryRecord> records) {
        String prev = HistoryRecord.GENESIS, prevPrev = null;
        long lastSeq = 0;
        for (int i = 0; i < records.size(); i++) {
            HistoryRecord r = records.get(i);
            HistoryRecord next = i + 1 < records.size() ? records.get(i + 1) : null;
            boolean whole = r.computeHash().equals(r.hash), linked = r.prev.equals(prev);
            if (whole && linked) {
                prevPrev = prev;
                prev = r.hash;
                lastSeq = r.seq;
                continue;
            }
            if (linked) return new Break(r.seq, "record " + r.seq + " was changed: " + describe(r)
                                                + " no longer matches its hash");
            // The record before this one has the same predecessor: it is the stranger.
            if (whole && r.prev.equals(prevPrev)) {
                return new Break(lastSeq, "record " + lastSeq + " was inserted: record " + r.seq
                                          + " follows the record before it");
            }
            // The next record follows the last good one: this one is the stranger.
            if (next != null && next.prev.equals(prev)) {
                return new Break(r.seq, "record " + r.seq + " was inserted: record " + next.seq + " follows "
                                        + (lastSeq == 0 ? "the start" : "record " + lastSeq));
            }
            if (!whole) {
                return new Break(r.seq, "record " + r.seq + " was changed" + (next == null ? " or inserted" : "")
                                        + ": " + describe(r) + " matches neither its hash nor the record before it");
            }
            if (r.seq > lastSeq + 1) {
                String gone = r.seq == lastSeq + 2 ? "record " + (lastSeq + 1) + " was"
                                                   : "records " + (lastSeq + 1) + " to " + (r.seq - 1) + " were";
                return new Break(lastSeq + 1, gone + " removed (before record " + r.seq + ")");
            }
            return new Break(r.seq, "record " + r.seq + " does not follow "
                                    + (lastSeq == 0 ? "the start" : "record " + lastSeq)
                                    + ": a record between them was removed, or record " + r.seq + " was inserted");
        }
        return null;
    }

    private static String describe(HistoryRecord r) {
        return "(" + r.text("time") + ", " + r.text("device") + ")";
    }
}
