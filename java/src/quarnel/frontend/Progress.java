package quarnel.frontend;

import java.io.PrintStream;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.function.LongSupplier;

/**
 * Shows the library's status: a bar redrawn in place on a terminal (text,
 * percentage, transfer rate), plain lines otherwise, nothing when quiet, or
 * for a program driving korvo-fe (a station) one JSON object a line.
 * korvo-fe's own notes (a device that keeps it waiting, storing without
 * progress, first-stage parts) show in the bar, or as a line at most every
 * few seconds.
 */
final class Progress implements TelegramLine.StatusListener {
    enum Mode { BAR, LINES, QUIET, EVENTS }

    static final long NOTE_EVERY_MS = 5000, EVENT_EVERY_MS = 200;

    private final PrintStream out;
    private final Mode mode;
    private final LongSupplier dataBytes;
    private final long start = System.nanoTime();
    private String lastText = "";
    private int lastPercent = -2;
    private long lastDraw, lastChange = System.nanoTime(), lastNote;
    private boolean drawn;

    Progress(PrintStream out, Mode mode, LongSupplier dataBytes) {
        this.out = out;
        this.mode = mode;
        this.dataBytes = dataBytes;
    }

    @Override
    public synchronized void status(String text, int percent) {
        boolean changed = !text.equals(lastText);
        long now = System.nanoTime();
        if (changed || percent != lastPercent) lastChange = now;
        if (mode == Mode.LINES) {
            // A line per status text, and one per quarter of a long step.
            if (changed || percent / 25 != lastPercent / 25 && percent >= 0) {
                out.println(percent >= 0 ? String.format("%3d%%  %s", percent, text) : "      " + text);
            }
        } else if (mode == Mode.EVENTS) {
            // Each new text, and the percentage at most every EVENT_EVERY_MS.
            if (changed || percent != lastPercent && (percent == 100 || now - lastDraw > EVENT_EVERY_MS * 1_000_000L)) {
                Map<String, Object> e = new LinkedHashMap<>();
                e.put("event", "status");
                e.put("text", text);
                e.put("percent", percent);
                e.put("bytes", dataBytes.getAsLong());
                out.println(Json.write(e));
                lastDraw = now;
            }
        } else if (mode == Mode.BAR) {
            if (changed || percent != lastPercent || now - lastDraw > 200_000_000L) {
                draw(text, percent, now);
                lastDraw = now;
            }
        }
        lastText = text;
        lastPercent = percent;
    }

    /** The last status text the library sent. */
    synchronized String lastText() {
        return lastText;
    }

    /** Milliseconds since the status last changed (text or percentage). */
    synchronized long unchangedMs() {
        return (System.nanoTime() - lastChange) / 1_000_000;
    }

    /** In EVENTS mode, {"event": `kind`, "text": `text`}: a line of output, the identification. */
    synchronized void event(String kind, String text) {
        if (mode != Mode.EVENTS) return;
        Map<String, Object> e = new LinkedHashMap<>();
        e.put("event", kind);
        e.put("text", text);
        out.println(Json.write(e));
    }

    /** A note of korvo-fe's own beside the status. */
    synchronized void note(String text) {
        long now = System.nanoTime();
        if (mode == Mode.EVENTS) {
            event("note", text);
        } else if (mode == Mode.BAR) {
            draw(text, lastPercent, now);
        } else if (mode == Mode.LINES && (lastNote == 0 || now - lastNote >= NOTE_EVERY_MS * 1_000_000L)) {
            out.println("      " + text);
            lastNote = now;
        }
    }

    private void draw(String text, int percent, long now) {
        int width = 24, filled = percent < 0 ? 0 : Math.min(width, percent * width / 100);
        double seconds = (now - start) / 1e9;
        String rate = seconds > 0.2 && dataBytes.getAsLong() > 0
            ? String.format("%6.1f MB/s", dataBytes.getAsLong() / seconds / 1e6) : "";
        String line = String.format("[%s%s] %4s  %-44.44s %s", "#".repeat(filled), "-".repeat(width - filled),
                                    percent < 0 ? "" : percent + "%", text, rate);
        out.print("\r" + line);
        out.flush();
        drawn = true;
    }

    /** Ends the bar's line before other output. */
    synchronized void finish() {
        if (drawn) out.println();
        drawn = false;
    }
}
