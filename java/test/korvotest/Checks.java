package korvotest;

import java.util.Objects;

/** Minimal assertions for the JNI test programs: count, report, exit. */
public final class Checks {
    private int passed;
    private int failed;
    private final String suite;

    public Checks(String suite) {
        this.suite = suite;
    }

    public void check(boolean condition, String what) {
        if (condition) {
            passed++;
        } else {
            failed++;
            System.out.println("FAILED: " + suite + ": " + what);
        }
    }

    public void equal(Object expected, Object actual, String what) {
        check(Objects.equals(expected, actual),
              what + " (expected <" + expected + ">, got <" + actual + ">)");
    }

    /** Prints the closing line and exits non-zero when anything failed or nothing ran. */
    public void finish() {
        System.out.println(suite + ": " + passed + " passed, " + failed + " failed");
        System.exit(failed == 0 && passed > 0 ? 0 : 1);
    }
}
