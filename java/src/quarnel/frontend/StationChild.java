package quarnel.frontend;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.LocalTime;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.function.Consumer;

/**
 * One device's korvo-fe under a station: the process, what it said last
 * (identification, phase, percentage, bytes sent) and its result, and the
 * device's log file, which gets every line it says with the time. Its
 * readers run on threads of their own; the fields are safe to read from
 * any thread.
 */
final class StationChild {
    private static final DateTimeFormatter CLOCK = DateTimeFormatter.ofPattern("HH:mm:ss.SSS");

    final int number;
    final String device;
    final Path log;
    private final Consumer<StationChild> changed;
    private final long created = System.nanoTime();
    private volatile long firstBytesAt, endedAt;
    volatile String ident = "", phase = "starting";
    volatile int percent = -1;
    volatile long bytes;
    private volatile Map<String, Object> result;
    private final List<String> errors = new ArrayList<>();
    private Process process;
    private Writer logFile;
    private final List<Thread> readers = new ArrayList<>();
    private int status = -1;

    /** `changed` is told of each new identification or phase, on a reader's thread. */
    StationChild(int number, String device, Path log, Consumer<StationChild> changed) {
        this.number = number;
        this.device = device;
        this.log = log;
        this.changed = changed;
    }

    /** Starts `command`; false (and the reason among the errors) when it cannot. */
    boolean start(List<String> command) {
        try {
            logFile = Files.newBufferedWriter(log, StandardCharsets.UTF_8);
            // The log is no place for a password.
            List<String> shown = new ArrayList<>(command);
            for (int i = 1; i < shown.size(); i++) {
                if (shown.get(i - 1).equals("--login")) shown.set(i, shown.get(i).replaceAll(":.*", ":***"));
            }
            write(String.join(" ", shown));
            process = new ProcessBuilder(command).start();
        } catch (IOException e) {
            error("cannot start korvo-fe: " + e.getMessage());
            phase = "not started";
            endedAt = System.nanoTime();
            return false;
        }
        readers.add(reader(process.getInputStream(), this::said, "out"));
        readers.add(reader(process.getErrorStream(), this::error, "err"));
        return true;
    }

    private Thread reader(InputStream in, Consumer<String> each, String name) {
        Thread t = new Thread(() -> {
            try (BufferedReader lines = new BufferedReader(new InputStreamReader(in, StandardCharsets.UTF_8))) {
                for (String l; (l = lines.readLine()) != null;) each.accept(l);
            } catch (IOException e) {
                // the process is gone
            }
        }, "korvo-fe-line-" + number + "-" + name);
        t.setDaemon(true);
        t.start();
        return t;
    }

    // A line of the child's standard output: an event, its result, or anything else.
    private void said(String line) {
        Map<String, Object> m = null;
        if (line.startsWith("{")) {
            try {
                m = Json.object(Json.parse(line));
            } catch (IllegalArgumentException e) {
                // not ours: logged as it is
            }
        }
        if (m == null) {
            write(line);
            return;
        }
        switch (Json.text(m, "event")) {
            case "status" -> {
                long sent = Json.number(m, "bytes", 0);
                if (sent > 0 && firstBytesAt == 0) firstBytesAt = System.nanoTime();
                bytes = sent;
                percent = (int) Json.number(m, "percent", -1);
                String text = Json.text(m, "text");
                boolean newPhase = !text.equals(phase);
                phase = text;
                write(percent >= 0 ? String.format("%3d%%  %s", percent, text) : "      " + text);
                if (newPhase) changed.accept(this);
            }
            case "ident" -> {
                ident = Json.text(m, "text");
                changed.accept(this);
            }
            case "line", "note" -> write(Json.text(m, "text"));
            case "" -> {
                result = m;
                write("result: " + line);
            }
            default -> write(line);
        }
    }

    private void error(String line) {
        synchronized (errors) {
            errors.add(line);
        }
        write(line);
    }

    private void write(String line) {
        synchronized (readers) {
            if (logFile == null) return;
            try {
                logFile.write(LocalTime.now().format(CLOCK) + "  " + line + "\n");
                logFile.flush();
            } catch (IOException e) {
                logFile = null;  // the log is lost, the download goes on
                synchronized (errors) {
                    errors.add("cannot write the log " + log + ": " + e.getMessage());
                }
            }
        }
    }

    /** Asks the child to stop, as a Ctrl-C would (a second time: at once). */
    void stop() {
        if (process == null || !process.isAlive()) return;
        try {
            OutputStream in = process.getOutputStream();
            in.write("stop\n".getBytes(StandardCharsets.UTF_8));
            in.flush();
        } catch (IOException e) {
            // it is ending already
        }
    }

    boolean alive() {
        return process != null && process.isAlive();
    }

    /** Waits for the end; the exit status (-1 when it never started). */
    int waitFor() throws InterruptedException {
        if (process == null) return status;
        status = process.waitFor();
        for (Thread t : readers) t.join(5000);
        if (endedAt == 0) endedAt = System.nanoTime();
        synchronized (readers) {
            try {
                if (logFile != null) logFile.close();
            } catch (IOException e) {
                // what could be written was
            }
            logFile = null;
        }
        return status;
    }

    int status() {
        return status;
    }

    /** The child's JSON result, or null when it gave none. */
    Map<String, Object> result() {
        return result;
    }

    String lastError() {
        synchronized (errors) {
            return errors.isEmpty() ? "" : errors.get(errors.size() - 1);
        }
    }

    long elapsedMs() {
        return ((endedAt == 0 ? System.nanoTime() : endedAt) - created) / 1_000_000;
    }

    /** Program data bytes a second since the first went out; 0 before. */
    double rate() {
        long first = firstBytesAt, end = endedAt == 0 ? System.nanoTime() : endedAt;
        return first == 0 || end - first < 200_000_000L ? 0 : bytes / ((end - first) / 1e9);
    }
}
