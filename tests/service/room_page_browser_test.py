"""The room page in a real browser (headless Chromium from Debian through
chromium-driver): ten names, hostile names shown as text, the count updated
without a reload when another agent reports; a screenshot is kept."""

import os
import shutil
import tempfile
import time
import unittest
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

from service_support import RoomsService, derive_room_key, match_ids, room_body

BUILD = Path(os.environ.get("VANTOR_BUILD_DIR", "."))
HOSTILE = "<img src=x onerror=alert(1)>"
RTL = "\u202eevil\u202c gnp.exe"


def chromium(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run", "--window-size=1200,900",
                 f"--user-data-dir={profile}"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class RoomPageBrowserTest(unittest.TestCase):
    def test_names_are_text_and_the_count_follows_the_arrivals(self):
        folder = Path(tempfile.mkdtemp(prefix="room_page_", dir=BUILD / "test-tmp"))
        service = RoomsService(folder, public_url="http://127.0.0.1:1")
        self.addCleanup(service.stop)
        ids = sorted(match_ids(3), key=str)
        names = {i: f"Player {n}" for n, i in enumerate(ids)}
        names[ids[0]], names[ids[5]] = HOSTILE, RTL
        client = service.client()
        for reporter in ids[:7]:
            self.assertIn(client.post(room_body(ids, reporter, names=names))[0], (200, 201))

        profile = folder / "profile"
        browser = chromium(profile)
        self.addCleanup(shutil.rmtree, profile, True)
        self.addCleanup(browser.quit)
        browser.get(f"{service.base}/r/{derive_room_key(ids)}")
        shown = [e.text for e in browser.find_elements(By.CSS_SELECTOR, "li[data-steamid] a")]
        self.assertEqual(sorted(shown), sorted(names.values()))
        self.assertEqual(browser.find_elements(By.TAG_NAME, "img"), [])
        self.assertEqual(len(browser.find_elements(By.TAG_NAME, "script")), 1)
        self.assertEqual(browser.find_element(By.ID, "count").text, "7 of 10 here")
        link = browser.find_element(By.CSS_SELECTOR, f'li[data-steamid="{ids[0]}"] a').get_attribute("href")
        self.assertEqual(link, f"https://steamcommunity.com/profiles/{ids[0]}")

        browser.execute_script("window.sameDocument = true;")
        client.post(room_body(ids, ids[7], names=names))
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and browser.find_element(By.ID, "count").text != "8 of 10 here":
            time.sleep(0.2)
        self.assertEqual(browser.find_element(By.ID, "count").text, "8 of 10 here")
        self.assertTrue(browser.execute_script("return window.sameDocument === true;"))   # no reload
        here = browser.find_element(By.CSS_SELECTOR, f'li[data-steamid="{ids[7]}"]')
        self.assertIn("here", here.get_attribute("class").split())
        errors = [e for e in browser.get_log("browser") if e["level"] == "SEVERE"]
        self.assertEqual(errors, [])   # nothing blocked by the policy, no script error

        artefacts = BUILD / "test-artefacts"
        artefacts.mkdir(exist_ok=True)
        self.assertTrue(browser.save_screenshot(str(artefacts / "room_page.png")))
        browser.set_window_size(400, 860)   # a phone
        self.assertTrue(browser.save_screenshot(str(artefacts / "room_page_phone.png")))

        browser.get(f"{service.base}/r/{'0' * 32}")
        self.assertEqual(browser.find_element(By.TAG_NAME, "h1").text, "No such room")


if __name__ == "__main__":
    unittest.main(verbosity=2)
