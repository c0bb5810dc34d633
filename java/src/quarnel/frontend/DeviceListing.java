package quarnel.frontend;

import java.io.IOException;
import java.io.PrintStream;
import java.io.UncheckedIOException;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.PathMatcher;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;

import quarnel.firmwaredownload.TAVISInterface;

/**
 * korvo-fe devices: the serial ports the system reports (or those --ports
 * GLOB matches), and with --probe what answers on each within a short
 * time-out. A port that another program holds is reported as in use and
 * left alone.
 */
final class DeviceListing {
    static final int DEFAULT_PROBE_MS = 1000;
    // Probes run side by side, so that silent ports do not add up.
    static final int PROBES_AT_ONCE = 8;

    /** One port: the name to use, other names of the same port, what it is ("" when unknown). */
    record Port(String path, List<String> aliases, String description) {
    }

    private final PrintStream out;
    private final Map<String, Object> json;
    private final SessionLog log;
    private final boolean quiet;

    DeviceListing(PrintStream out, Map<String, Object> json, SessionLog log, boolean quiet) {
        this.out = out;
        this.json = json;
        this.log = log;
        this.quiet = quiet;
    }

    /** Lists (and probes) the ports; the exit status. */
    int run(List<String> globs, boolean probe, int probeMs) throws InterruptedException {
        List<Port> ports = globs.isEmpty() ? system() : matching(globs);
        List<Map<String, Object>> probes = probe ? probeAll(ports, probeMs) : null;
        List<Object> listed = new ArrayList<>();
        List<String> answered = new ArrayList<>(), hints = new ArrayList<>();
        for (int i = 0; i < ports.size(); i++) {
            listed.add(show(ports.get(i), probe ? probes.get(i) : null, probeMs, answered, hints));
        }
        json.put("ports", listed);
        if (probe) json.put("answered", answered);
        if (ports.isEmpty()) {
            text("devices: no serial port found" + (globs.isEmpty() ? "" : " at " + String.join(", ", globs)));
            hints.add("a USB serial adapter shows up as /dev/ttyUSB0 or /dev/ttyACM0 once it is plugged in;"
                      + " --ports GLOB looks elsewhere");
        } else if (probe && answered.isEmpty()) {
            text("devices: no device answered");
            hints.add("check that the device is switched on and its cable plugged in; with --probe-ms a slow"
                      + " device gets longer");
        } else if (!answered.isEmpty()) {
            hints.add("use the device with --device serial:" + answered.get(0));
        } else {
            hints.add("--probe asks each port which device answers on it");
        }
        hints.forEach(h -> text("hint: " + h));
        json.put("hints", hints);
        return ports.isEmpty() || probe && answered.isEmpty() ? Results.DEVICE : Results.OK;
    }

    // One port's lines, and its entry of the JSON result; a port that answered
    // goes into `answered` by its stable name (by-id) where it has one.
    private Map<String, Object> show(Port p, Map<String, Object> probe, int probeMs, List<String> answered,
                                     List<String> hints) {
        Map<String, Object> entry = new LinkedHashMap<>();
        entry.put("path", p.path());
        entry.put("aliases", p.aliases());
        entry.put("description", p.description());
        String line = p.path() + (p.description().isEmpty() ? "" : "  " + p.description());
        if (probe != null) {
            entry.put("probe", probe);
            line = p.path() + ": " + outcome(probe, probeMs);
            if (Json.text(probe, "outcome").equals("answered")) {
                answered.add(p.aliases().stream().filter(a -> a.contains("/by-id/")).findFirst().orElse(p.path()));
            }
            if (Json.text(probe, "detail").equals("permission denied")) {
                addOnce(hints, "the user may not open " + p.path() + ": on Debian, add the user to the group that"
                        + " owns it (sudo adduser $USER dialout) and log in again");
            }
        }
        text(line);
        for (String alias : p.aliases()) text("    also " + alias);
        return entry;
    }

    private static List<Port> system() {
        List<Port> ports = new ArrayList<>();
        for (Object o : Json.list(Json.parse(TAVISInterface.ListSerialPortsIF()))) {
            Map<String, Object> p = Json.object(o);
            List<String> aliases = new ArrayList<>();
            for (Object a : Json.list(p.get("aliases"))) aliases.add(String.valueOf(a));
            ports.add(new Port(Json.text(p, "path"), aliases, Json.text(p, "description")));
        }
        return ports;
    }

    /**
     * The paths the globs match, in the order people count them; paths of one
     * port (a link and its target) make one entry, the target among the
     * other names.
     */
    static List<Port> matching(List<String> globs) {
        Map<String, List<String>> byTarget = new LinkedHashMap<>();
        List<String> found = new ArrayList<>();
        for (String glob : globs) found.addAll(expand(glob));
        found.sort(COUNTED);
        for (String path : found) {
            byTarget.computeIfAbsent(target(path), t -> new ArrayList<>());
            List<String> names = byTarget.get(target(path));
            if (!names.contains(path)) names.add(path);
        }
        List<Port> ports = new ArrayList<>();
        byTarget.forEach((target, names) -> {
            List<String> aliases = new ArrayList<>(names.subList(1, names.size()));
            if (!names.contains(target)) aliases.add(target);
            ports.add(new Port(names.get(0), aliases, ""));
        });
        return ports;
    }

    // The folders up to the first part with a wildcard are taken as they
    // are; the rest is matched part by part.
    private static List<String> expand(String glob) {
        String[] parts = glob.split("/", -1);
        int fixed = 0;
        while (fixed < parts.length && !parts[fixed].matches(".*[*?\\[{\\\\].*")) fixed++;
        final int literal = fixed;
        try {
            if (literal == parts.length) return Files.exists(Paths.get(glob)) ? List.of(glob) : List.of();
            String head = String.join("/", List.of(parts).subList(0, literal));
            Path base = Paths.get(literal == 0 ? "." : head.isEmpty() ? "/" : head);
            int depth = parts.length - literal;
            PathMatcher matcher = FileSystems.getDefault().getPathMatcher(
                "glob:" + String.join("/", List.of(parts).subList(literal, parts.length)));
            if (!Files.isDirectory(base)) return List.of();
            try (Stream<Path> walk = Files.walk(base, depth)) {
                return walk.filter(p -> !p.equals(base) && base.relativize(p).getNameCount() == depth
                                        && matcher.matches(base.relativize(p)))
                           .map(p -> literal == 0 ? base.relativize(p).toString() : p.toString()).toList();
            }
        } catch (IOException | UncheckedIOException | IllegalArgumentException e) {
            throw new IllegalArgumentException("--ports " + glob + ": " + e.getMessage());
        }
    }

    private static String target(String path) {
        try {
            return Paths.get(path).toRealPath().toString();
        } catch (IOException | InvalidPathException e) {
            return path;
        }
    }

    private static final Pattern NUMBERED = Pattern.compile("(.*?)(\\d+)$");

    // "ttyS10" after "ttyS2".
    static final Comparator<String> COUNTED = (a, b) -> {
        Matcher x = NUMBERED.matcher(a), y = NUMBERED.matcher(b);
        if (x.matches() && y.matches() && x.group(1).equals(y.group(1))) {
            return new BigInteger(x.group(2)).compareTo(new BigInteger(y.group(2)));
        }
        return a.compareTo(b);
    };

    private List<Map<String, Object>> probeAll(List<Port> ports, int probeMs) throws InterruptedException {
        List<Map<String, Object>> results = new ArrayList<>();
        if (ports.isEmpty()) return results;
        ExecutorService pool = Executors.newFixedThreadPool(Math.min(PROBES_AT_ONCE, ports.size()), r -> {
            Thread t = new Thread(r, "korvo-fe-probe");
            t.setDaemon(true);
            return t;
        });
        try {
            List<Future<String>> answers = new ArrayList<>();
            for (Port p : ports) answers.add(pool.submit(() -> TAVISInterface.ProbeSerialPortIF(p.path(), probeMs)));
            for (int i = 0; i < ports.size(); i++) {
                Map<String, Object> r = Json.object(Json.parse(answers.get(i).get()));
                trace(ports.get(i).path(), r, probeMs);
                results.add(r);
            }
        } catch (ExecutionException e) {
            throw new IllegalStateException("a probe failed", e.getCause());
        } finally {
            pool.shutdownNow();
        }
        return results;
    }

    private void trace(String port, Map<String, Object> r, int probeMs) {
        for (String[] way : new String[][] {{">>", "sent"}, {"<<", "received"}}) {
            String bytes = Json.text(r, way[1]);
            if (!bytes.isEmpty()) log.telegram(way[0], port, unframed(bytes.getBytes(StandardCharsets.ISO_8859_1)));
        }
        log.note(port + ": " + outcome(r, probeMs) + " after " + Json.text(r, "ms") + " ms");
    }

    // The telegram's text between STX and ETX; other bytes as they came.
    private static byte[] unframed(byte[] bytes) {
        int stx = -1, etx = -1;
        for (int i = 0; i < bytes.length; i++) {
            if (bytes[i] == TelegramLine.STX && stx < 0) stx = i;
            else if (bytes[i] == TelegramLine.ETX && stx >= 0) {
                etx = i;
                break;
            }
        }
        return stx < 0 || etx < 0 ? bytes : Arrays.copyOfRange(bytes, stx + 1, etx);
    }

    /** What the probe found, for people. */
    static String outcome(Map<String, Object> r, int probeMs) {
        String detail = Json.text(r, "detail");
        switch (Json.text(r, "outcome")) {
            case "answered":
                String ident = Json.text(r, "ident");
                return ident.equals("No Program") ? "No Program (a device without application: only its boot code runs)"
                                                  : ident;
            case "error answer":
                long code = Json.number(r, "code", 0);
                return "answers with error " + code + String.format(" (sFA %X)", code);
            case "not understood":
                return "not understood: " + detail + " (another line speed, or another kind of device?)";
            case "silent": return "silent (no answer within " + probeMs + " ms)";
            case "in use": return "in use (" + detail + "); nothing was sent";
            default: return "unavailable (" + detail + ")";
        }
    }

    private static void addOnce(List<String> list, String item) {
        if (!list.contains(item)) list.add(item);
    }

    private void text(String s) {
        if (!quiet) out.println(s);
    }
}
