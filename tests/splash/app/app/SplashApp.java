package app;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import javax.swing.JFrame;
import javax.swing.SwingUtilities;
import com.tarnwick.nxo.SplashScreen;

/**
 * Does to the splash what the test asks, one command a line on standard
 * input, and answers each with one line on standard output:
 *   get            both getSplashScreen results and the JDK's own splash
 *   autoClose N    SplashScreen.autoClose(N)
 *   close          SplashScreen.close()
 *   window         opens a window and waits until it shows
 *   return         returns from main (a non-daemon thread keeps reading)
 *   exit           ends the process
 */
public class SplashApp {
    public static void main(String[] args) throws Exception {
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in, "UTF-8"));
        say("main");
        if (!serve(in, true)) {
            Thread keeper = new Thread(() -> {
                try {
                    serve(in, false);
                } catch (Exception e) {
                    e.printStackTrace();
                }
            });
            keeper.start();
            say("returned");
        }
    }

    /** False when asked to return from main. */
    static boolean serve(BufferedReader in, boolean inMain) throws Exception {
        for (String line; (line = in.readLine()) != null; ) {
            String[] words = line.trim().split(" ");
            switch (words[0]) {
                case "get": {
                    SplashScreen first = SplashScreen.getSplashScreen();
                    SplashScreen second = SplashScreen.getSplashScreen();
                    Object jdk = null;
                    try {
                        jdk = java.awt.SplashScreen.getSplashScreen();
                    } catch (Throwable t) {
                        // headless or no splash library: no JDK splash
                    }
                    say("get present=" + (first != null) + " same=" + (first == second)
                        + " jdk=" + (jdk != null));
                    break;
                }
                case "autoClose":
                    SplashScreen.getSplashScreen().autoClose(Integer.parseInt(words[1]));
                    say("done");
                    break;
                case "close":
                    SplashScreen.getSplashScreen().close();
                    say("done");
                    break;
                case "window":
                    SwingUtilities.invokeAndWait(() -> {
                        JFrame frame = new JFrame("splash test window");
                        frame.setSize(160, 120);
                        frame.setLocation(0, 0);
                        frame.setVisible(true);
                    });
                    say("window");
                    break;
                case "return":
                    if (inMain) return false;
                    say("done");
                    break;
                case "exit":
                    System.exit(0);
                    break;
                default:
                    say("unknown " + line);
            }
        }
        System.exit(0);
        return true;
    }

    static void say(String text) {
        System.out.println(text);
        System.out.flush();
    }
}
