package download;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Random;

import quarnel.firmwaredownload.KeyFile;
import quarnel.firmwaredownload.TAVISInterface;

/**
 * MisuseTest's child front end that ends while the library works. Modes: "exit" (System.exit(3)
 * while a download waits), "wait" and "compress" (until a signal), "download" (a whole one).
 */
public final class MisusedFrontEnd {
    public static void main(String[] args) throws Exception {
        DownloadTest.work = Paths.get("").toAbsolutePath();
        if (args[0].equals("compress")) {
            Path big = DownloadTest.work.resolve("big.bin");
            byte[] bytes = new byte[32 << 20];
            new Random(26).nextBytes(bytes);
            Files.write(big, bytes);
            System.out.println("compressing");
            System.out.flush();
            int rc = new KeyFile().CompressIF(big.toString(), DownloadTest.work.resolve("big.kz").toString());
            System.out.println("compress returned " + rc);
            return;
        }
        String cfg = DownloadTest.prepare("", false);
        TAVISInterface.setDeviceLine(DownloadTest.device);
        DownloadTest.tavis.SetupJNI("Keta A", "9600", "/nonexistent/korvo-port");
        boolean whole = args[0].equals("download");
        DownloadTest.device.respond(cmd -> !whole && cmd.name().equals("mFDprgdata") ? null : DownloadTest.answer(cmd));
        Thread download = new Thread(() -> {
            System.out.println("download returned " + DownloadTest.result(DownloadTest.run(cfg, -1, -1)));
        }, "download");
        download.start();
        if (!whole) {
            // The device now holds the extracted data and waits for program data.
            boolean came = DownloadTest.device.awaitCommand("mFDprgdata", 20_000);
            System.out.println(came ? "waiting" : "no program data");
            System.out.flush();
        }
        if (args[0].equals("exit")) new Thread(() -> System.exit(3), "quit").start();
        download.join();
    }
}
