package korvotest;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Objects;
import java.util.stream.Stream;

/** Minimal assertions for the JNI test programs: count, report, exit. */
public final class Checks {
    private int passed;
    private int failed;
    private final String suite;
    // Whole seconds: some file systems keep no finer times.
    private final long started = System.currentTimeMillis() / 1000 * 1000;

    public Checks(String suite) { this.suite = suite; }

    public void check(boolean condition, String what) {
        if (condition) { passed++; return; }
        failed++;
        System.out.println("FAILED: " + suite + ": " + what);
    }

    public void equal(Object expected, Object actual, String what) {
        check(Objects.equals(expected, actual),
              what + " (expected <" + expected + ">, got <" + actual + ">)");
    }

    /** The output (with its errors) of a program that must end with `status`. */
    public String run(int status, String... command) throws Exception {
        Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        equal(status, p.waitFor(), String.join(" ", command) + ": " + out);
        return out;
    }

    /** What `korvo inspect` shows of a configuration or key file, which must start with 55 AA 02 FF. */
    public String inspect(Path file) throws Exception {
        byte[] head = Files.readAllBytes(file);
        check(head.length > 4 && (head[0] & 0xFF) == 0x55 && (head[1] & 0xFF) == 0xAA && head[2] == 2
              && (head[3] & 0xFF) == 0xFF, file + " starts with the magic number");
        return run(0, System.getProperty("korvo.tool"), "inspect", file.toString());
    }

    /** A temporary file that outlives its call breaks the next one. */
    public void noneLeft(Path dir, String namePattern) throws Exception {
        try (Stream<Path> files = Files.list(dir)) {
            // What an earlier, killed run left behind is not this run's fault.
            List<String> left = files.filter(f -> f.toFile().lastModified() >= started)
                                     .map(f -> f.getFileName().toString())
                                     .filter(n -> n.matches(namePattern)).toList();
            check(left.isEmpty(), "temporary files left in " + dir + ": " + left);
        }
    }

    /** Removes a folder and all it holds, if it is there. */
    public static void removeTree(Path tree) throws Exception {
        if (!Files.exists(tree)) return;
        try (Stream<Path> all = Files.walk(tree)) {
            for (Path p : all.sorted(java.util.Comparator.reverseOrder()).toList()) Files.delete(p);
        }
    }

    /** Prints the closing line and exits non-zero when anything failed or nothing ran. */
    public void finish() {
        System.out.println(suite + ": " + passed + " passed, " + failed + " failed");
        System.exit(failed == 0 && passed > 0 ? 0 : 1);
    }
}
