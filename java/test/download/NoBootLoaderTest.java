package download;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

import korvotest.Checks;
import quarnel.firmwaredownload.TAVISInterface;

/** The library without libBrekLoad.so: it loads, only downloads that need the boot loader fail. */
public final class NoBootLoaderTest {
    static final Checks c = new Checks("NoBootLoader");

    public static void main(String[] args) throws Exception {
        Path folder = Paths.get(System.getProperty("java.library.path"));
        c.check(Files.exists(folder.resolve("libKorvo.so")) && !Files.exists(folder.resolve("libBrekLoad.so")),
                "the library alone in " + folder);
        String two = DownloadTest.prepare("no-boot-loader-work", false);
        TAVISInterface.setDeviceLine(DownloadTest.device);
        DownloadTest.device.respond(DownloadTest::answer);
        DownloadTest.tavis.SetupJNI("Keta A", "9600", "/nonexistent/korvo-port");
        c.equal("0 0", DownloadTest.result(DownloadTest.run(two, -1, -1)), "a download without the boot loader");

        FrontEndTest.build = Paths.get(System.getProperty("korvo.tool")).getParent();
        FrontEndTest.Simulator sim = new FrontEndTest.Simulator("");
        DownloadTest.tavis.SetupJNI("Keta A", "", sim.pty);
        String boot = DownloadTest.config("b", DownloadTest.system("2.3", "false", "K"),
            DownloadTest.device("B", "APP", "true", "SRECToBrekBinXML", "fw.s19", ""));
        c.equal("-150 0", DownloadTest.result(DownloadTest.run(boot, -1, -1)),
                "a boot-loader download without the boot loader");
        sim.stop();

        DownloadTest.tavis.SetupJNI("Keta A", "9600", "/nonexistent/korvo-port");
        c.equal("0 0", DownloadTest.result(DownloadTest.run(two, -1, -1)), "the next download");
        c.noneLeft(Paths.get("."), "~.*");
        c.finish();
    }
}
