package korvotest;

import quarnel.firmwaredownload.TAVISInterface;

/**
 * Command round trips per second through the real library and JVM, with a
 * simulated device that answers at once on its own thread. Not a test (run
 * by hand):
 *   java -Djava.library.path=BUILD -cp BUILD/java-classes korvotest.RoundTripBench [seconds]
 */
public final class RoundTripBench {
    public static void main(String[] args) {
        double seconds = args.length > 0 ? Double.parseDouble(args[0]) : 3.0;
        TAVISInterface tavis = new TAVISInterface();
        SimulatedDevice device = new SimulatedDevice(tavis);
        device.setRecording(false);
        TAVISInterface.setDeviceLine(device);
        tavis.SetupJNI("Keta A", "9600", "/nonexistent/port");

        device.answerTo("DeviceIdent", "RA", " 9 SCANNER42");
        run("identification read (ConnectDeviceIF)", seconds, () -> {
            if (!"SCANNER42".equals(tavis.ConnectDeviceIF())) throw new AssertionError("ident");
        });
        device.answerTo("SetAccessMode", "AN", " 1");
        run("login (LoginDeviceIF)", seconds, () -> {
            if (tavis.LoginDeviceIF("3", "secret") != 0) throw new AssertionError("login");
        });
    }

    private static void run(String what, double seconds, Runnable roundTrip) {
        for (int i = 0; i < 2000; i++) roundTrip.run();  // warm-up
        long limit = (long) (seconds * 1e9);
        long start = System.nanoTime();
        long count = 0;
        long elapsed;
        do {
            for (int i = 0; i < 500; i++) roundTrip.run();
            count += 500;
            elapsed = System.nanoTime() - start;
        } while (elapsed < limit);
        System.out.printf("%s: %d round trips in %.2f s = %.0f per second%n", what, count,
                          elapsed / 1e9, count / (elapsed / 1e9));
    }
}
