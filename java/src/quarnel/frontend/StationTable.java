package quarnel.frontend;

import java.io.PrintStream;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.function.Function;

/**
 * A station's live view: on a terminal one table (device, identification,
 * phase, percentage, rate, result) redrawn in place; otherwise a plain
 * line whenever a device has a new identification or phase. Thread-safe.
 */
final class StationTable {
    private static final String FORMAT = "%-2s %-21.21s %-16.16s %-24.24s %4s %9s  %s";

    private final PrintStream out;
    private final boolean terminal;
    private final List<StationChild> children;
    private final Function<StationChild, String> result;
    private final int width;
    private final Map<StationChild, String> said = new HashMap<>();
    private int drawn;  // rows on the screen, the heading included

    StationTable(PrintStream out, boolean terminal, List<StationChild> children,
                 Function<StationChild, String> result) {
        this.out = out;
        this.terminal = terminal;
        this.children = children;
        this.result = result;
        // A row longer than the screen would wrap, and the redraw would go astray.
        this.width = Math.max(40, (terminal ? columns() : 100) - 1);
    }

    /** Redraws the table in place (terminal only). */
    synchronized void draw() {
        if (!terminal) return;
        StringBuilder s = new StringBuilder();
        if (drawn > 0) s.append("\033[").append(drawn).append('A');
        s.append('\r').append(fit(String.format(FORMAT, "#", "DEVICE", "IDENTIFICATION", "PHASE", "%", "RATE", "RESULT")))
         .append("\033[K\n");
        for (StationChild c : children) s.append(fit(row(c))).append("\033[K\n");
        out.print(s);
        out.flush();
        drawn = children.size() + 1;
    }

    /** A device has something new to show (plain lines only). */
    synchronized void changed(StationChild c) {
        if (terminal) return;
        String text = (c.ident.isEmpty() ? "" : c.ident + ": ") + c.phase;
        if (text.equals(said.get(c))) return;
        said.put(c, text);
        out.println("[" + c.number + " " + c.device + "] " + (c.percent >= 0 ? c.percent + "%  " : "") + text);
    }

    // $COLUMNS, else what the terminal says (stty), else 100.
    private static int columns() {
        String env = System.getenv("COLUMNS");
        try {
            if (env != null) return Integer.parseInt(env.trim());
            Process p = new ProcessBuilder("stty", "size").redirectInput(new java.io.File("/dev/tty"))
                .redirectError(ProcessBuilder.Redirect.DISCARD).start();
            String[] size = new String(p.getInputStream().readAllBytes(), java.nio.charset.StandardCharsets.UTF_8)
                .trim().split("\\s+");
            if (p.waitFor() == 0 && size.length == 2) return Integer.parseInt(size[1]);
        } catch (java.io.IOException | NumberFormatException e) {
            // the default
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        return 100;
    }

    private String row(StationChild c) {
        return String.format(FORMAT, c.number, c.device, c.ident, c.phase, c.percent >= 0 ? c.percent + "%" : "",
                             rate(c.rate()), result.apply(c));
    }

    private String fit(String row) {
        return row.length() > width ? row.substring(0, width) : row;
    }

    static String rate(double bytesPerSecond) {
        if (bytesPerSecond <= 0) return "";
        if (bytesPerSecond < 1e3) return String.format("%.0f B/s", bytesPerSecond);
        if (bytesPerSecond < 1e6) return String.format("%.1f kB/s", bytesPerSecond / 1e3);
        return String.format("%.1f MB/s", bytesPerSecond / 1e6);
    }
}
