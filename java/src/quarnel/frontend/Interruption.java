package quarnel.frontend;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.lang.reflect.Proxy;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * Ctrl-C (SIGINT) for korvo-fe. Outside a download it ends the program at
 * once, as usual. During a download the first one only sets the stop going
 * (the download then ends through its own error path: abort, reboot, clean
 * up, and the program exits after saying what state the device is in); a
 * second one stops waiting for the device, so that the program ends at once
 * (and still cleans up). The JVM's own handling would only run shutdown
 * hooks, and could not tell the second Ctrl-C from the first.
 */
final class Interruption {
    static final int EXIT_STATUS = 130;  // 128 + SIGINT, as shells report it

    private final PrintStream err;
    private final AtomicInteger count = new AtomicInteger();
    private Class<?> signal, handler;
    private Object sigint;
    private volatile Runnable cleanUp;  // set while a download runs
    private volatile Runnable hurry;

    Interruption(PrintStream err) {
        this.err = err;
    }

    /**
     * While a download runs, `stop` is what the first Ctrl-C does and `hurry`
     * what the second does (both quickly); null outside one.
     */
    void during(Runnable stop, Runnable hurry) {
        this.hurry = hurry;
        this.cleanUp = stop;
    }

    boolean happened() {
        return count.get() > 0;
    }

    /** Takes SIGINT over; false (the JVM's handling stays) where the platform has no such signal. */
    boolean install() {
        // sun.misc.Signal is the supported way in (module jdk.unsupported);
        // reached by reflection, as the compiler warns about any direct use.
        try {
            signal = Class.forName("sun.misc.Signal");
            handler = Class.forName("sun.misc.SignalHandler");
            Object proxy = Proxy.newProxyInstance(Interruption.class.getClassLoader(), new Class<?>[] {handler},
                (self, method, args) -> {
                    if (method.getName().equals("handle")) interrupted();
                    return method.getName().equals("hashCode") ? (Object) System.identityHashCode(self)
                         : method.getName().equals("equals") ? (Object) (self == args[0])
                         : method.getName().equals("toString") ? "korvo-fe SIGINT" : null;
                });
            sigint = signal.getConstructor(String.class).newInstance("INT");
            signal.getMethod("handle", signal, handler).invoke(null, sigint, proxy);
            return true;
        } catch (ReflectiveOperationException | RuntimeException | LinkageError e) {
            return false;
        }
    }

    /**
     * For a korvo-fe that another program drives (--events): a line "stop"
     * on `in` is a Ctrl-C, and so is its end (the driving program is gone).
     * SIGINT is ignored: a terminal's Ctrl-C reaches the driving program too,
     * which passes it on once, so it is not taken for a second one here.
     */
    void takeFrom(InputStream in) {
        if (install()) {
            try {
                Object ignore = handler.getField("SIG_IGN").get(null);
                signal.getMethod("handle", signal, handler).invoke(null, sigint, ignore);
            } catch (ReflectiveOperationException | RuntimeException e) {
                // SIGINT then counts here too
            }
        }
        Thread t = new Thread(() -> {
            try (BufferedReader lines = new BufferedReader(new InputStreamReader(in, StandardCharsets.UTF_8))) {
                for (String l; (l = lines.readLine()) != null;) if (l.trim().equals("stop")) interrupted();
            } catch (IOException e) {
                // as the end of the input
            }
            interrupted();
        }, "korvo-fe-stop");
        t.setDaemon(true);
        t.start();
    }

    // Each signal arrives on a thread of its own, so a second one is seen
    // while the first one's clean-up still runs.
    private void interrupted() {
        Runnable stop = cleanUp;
        if (count.incrementAndGet() == 1 && stop != null) {
            err.println("korvo-fe: interrupted: stopping the download (Ctrl-C again exits at once)");
            stop.run();
            return;
        }
        Runnable quick = hurry;
        if (stop != null && quick != null) {
            err.println("korvo-fe: interrupted again: exiting at once");
            quick.run();
            // The download ends within moments now; if it does not, end anyway.
            try {
                Thread.sleep(2000);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }
        System.out.flush();
        err.flush();
        die();
    }

    // Ends the process as an unhandled SIGINT would. Exiting through the JVM
    // would first run the library's clean-up at unload, which waits for the
    // download still running on another thread.
    private void die() {
        try {
            Object standard = handler.getField("SIG_DFL").get(null);
            signal.getMethod("handle", signal, handler).invoke(null, sigint, standard);
            signal.getMethod("raise", signal).invoke(null, sigint);
            Thread.sleep(1000);
        } catch (ReflectiveOperationException | RuntimeException e) {
            // then the JVM's own way
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        Runtime.getRuntime().halt(EXIT_STATUS);
    }
}
